// Turning a fetched body into text: UTF-8 or Windows-1252, and the cut at
// the byte limit that must not leave half a character behind.
#include "platform/curlhttpclient.h"
#include "platform/httpclient.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

using lesemund::platform::contentTypeSaysUtf8;
using lesemund::platform::CurlHttpClient;
using lesemund::platform::decodeHttpBody;
using lesemund::platform::HttpResult;
using lesemund::testing::HttpTestServer;

namespace {

const QString kGruesse = QStringLiteral("Grüße aus Köln, 5 € für Äpfel");

TEST(ContentTypeCharset, RecognisesUtf8InItsSpellings) {
    EXPECT_TRUE(contentTypeSaysUtf8("text/plain; charset=utf-8"));
    EXPECT_TRUE(contentTypeSaysUtf8("text/plain;charset=UTF-8"));
    EXPECT_TRUE(contentTypeSaysUtf8("text/html; charset=\"utf-8\""));
    EXPECT_TRUE(contentTypeSaysUtf8("text/plain; format=flowed; Charset = utf8"));
}

TEST(ContentTypeCharset, OtherCharsetsAndNoneAreNotUtf8) {
    EXPECT_FALSE(contentTypeSaysUtf8(""));
    EXPECT_FALSE(contentTypeSaysUtf8("text/plain"));
    EXPECT_FALSE(contentTypeSaysUtf8("text/plain; charset=iso-8859-1"));
    EXPECT_FALSE(contentTypeSaysUtf8("text/plain; charset=windows-1252"));
    EXPECT_FALSE(contentTypeSaysUtf8("text/utf-8"));
    EXPECT_FALSE(contentTypeSaysUtf8("text/plain; name=utf-8"));
}

TEST(BodyDecoding, ValidUtf8IsDecodedAsUtf8WhateverTheType) {
    EXPECT_EQ(decodeHttpBody(kGruesse.toUtf8(), "text/plain", false), kGruesse);
    EXPECT_EQ(decodeHttpBody(kGruesse.toUtf8(), "", false), kGruesse);
}

TEST(BodyDecoding, Windows1252IsDecodedAsWindows1252) {
    const QByteArray ansi = "Gr\xFC\xDF" "e aus K\xF6ln, 5 \x80 f\xFCr \xC4pfel";
    EXPECT_EQ(decodeHttpBody(ansi, "text/plain", false), kGruesse);
    EXPECT_EQ(decodeHttpBody(ansi, "text/plain; charset=iso-8859-1", false), kGruesse);
}

TEST(BodyDecoding, Utf8CharsetWinsOverABrokenSequence) {
    // Valid text with one stray byte: the type decides for UTF-8, the stray
    // byte becomes one replacement character and the umlauts stay whole.
    const QByteArray body = QStringLiteral("Müller").toUtf8() + "\xFF" + QStringLiteral("Straße").toUtf8();
    const QString text = decodeHttpBody(body, "text/plain; charset=utf-8", false);
    EXPECT_EQ(text, QStringLiteral("Müller") + QChar(0xFFFD) + QStringLiteral("Straße"));
    // Without the charset the body is Windows-1252: two characters per umlaut.
    EXPECT_EQ(decodeHttpBody(body, "text/plain", false).size(), body.size());
}

TEST(BodyDecoding, CutInsideATwoByteCharacterDropsItsFirstHalf) {
    const QByteArray body = QByteArray(10, 'a') + QStringLiteral("ü").toUtf8().left(1);
    EXPECT_EQ(decodeHttpBody(body, "text/plain", true), QString(10, QChar('a')));
}

TEST(BodyDecoding, CutInsideThreeAndFourByteCharactersDropsThePartialOne) {
    const QByteArray euro = QStringLiteral("€").toUtf8();
    const QByteArray emoji = QString::fromUcs4(U"\U0001F600").toUtf8();
    ASSERT_EQ(euro.size(), 3);
    ASSERT_EQ(emoji.size(), 4);
    const QString head = QStringLiteral("Preis ü ");
    for (int keep = 1; keep < 3; ++keep)
        EXPECT_EQ(decodeHttpBody(head.toUtf8() + euro.left(keep), "", true), head) << keep;
    for (int keep = 1; keep < 4; ++keep)
        EXPECT_EQ(decodeHttpBody(head.toUtf8() + emoji.left(keep), "", true), head) << keep;
    // A character that ends exactly at the cut stays.
    EXPECT_EQ(decodeHttpBody(head.toUtf8() + euro, "", true), head + QStringLiteral("€"));
}

TEST(BodyDecoding, Windows1252TextCutAtTheLimitKeepsItsLastCharacter) {
    // "Grüß" in Windows-1252 is not UTF-8 even without its last byte:
    // every byte, the last included, is a character.
    const QByteArray ansi = "Gr\xFC\xDF";
    EXPECT_EQ(decodeHttpBody(ansi, "text/plain", true), QStringLiteral("Grüß"));
}

TEST(BodyDecoding, BodyThatWasNotCutIsNotShortened) {
    // A whole body ending in a lone lead byte is no UTF-8: Windows-1252.
    const QByteArray body = QByteArray("abc") + char(0xC3);
    EXPECT_EQ(decodeHttpBody(body, "text/plain", false), QStringLiteral("abcÃ"));
}

TEST(BodyDecoding, EmptyBodyIsEmptyText) {
    EXPECT_TRUE(decodeHttpBody(QByteArray(), "text/plain; charset=utf-8", true).isEmpty());
    EXPECT_TRUE(HttpResult{}.text().isEmpty());
}

class FetchedTextTest : public ::testing::Test {
protected:
    HttpTestServer server;
    CurlHttpClient client;
};

TEST_F(FetchedTextTest, Utf8FileWithUmlautsIsSpokenWithOneCharacterPerUmlaut) {
    server.serve("/utf8.txt", kGruesse.toUtf8(), "text/plain");
    const HttpResult r = client.get(server.url("/utf8.txt"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text(), kGruesse);
}

TEST_F(FetchedTextTest, Windows1252FileIsReadAsWindows1252) {
    server.serve("/ansi.txt", "Gr\xFC\xDF" "e aus K\xF6ln, 5 \x80 f\xFCr \xC4pfel", "text/plain");
    const HttpResult r = client.get(server.url("/ansi.txt"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text(), kGruesse);
}

TEST_F(FetchedTextTest, ContentTypeFromTheServerReachesTheDecoding) {
    const QByteArray body = QStringLiteral("Tür").toUtf8() + "\x80";
    server.serve("/typ.txt", body, "text/plain; charset=UTF-8");
    const HttpResult r = client.get(server.url("/typ.txt"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.contentType, "text/plain; charset=UTF-8");
    EXPECT_EQ(r.text(), QStringLiteral("Tür") + QChar(0xFFFD));
}

TEST_F(FetchedTextTest, CutAt50000InsideAnUmlautKeepsTheTextUtf8) {
    // 49 999 letters, then "ü" across the limit, then more text.
    const QByteArray body = QByteArray(49999, 'a') + QStringLiteral("ü und noch mehr").toUtf8();
    server.serve("/schnitt.txt", body);
    const HttpResult r = client.get(server.url("/schnitt.txt"));
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.truncated);
    ASSERT_EQ(r.body.size(), 50000);
    EXPECT_EQ(static_cast<unsigned char>(r.body.back()), 0xC3);
    EXPECT_EQ(r.text(), QString(49999, QChar('a')));
}

TEST_F(FetchedTextTest, CutAt50000InsideAnUmlautOfAnUmlautRichText) {
    QByteArray body;
    while (body.size() < 60000)
        body += QStringLiteral("Größe Übermaß äöü ").toUtf8();
    // Find a cut that splits a character: shift the body by one byte until
    // byte 50000 is a continuation byte.
    while ((static_cast<unsigned char>(body[50000]) & 0xC0) != 0x80)
        body.prepend('x');
    server.serve("/reich.txt", body);
    const HttpResult r = client.get(server.url("/reich.txt"));
    ASSERT_TRUE(r.ok);
    const QString text = r.text();
    EXPECT_FALSE(text.contains(QChar(0xFFFD)));
    EXPECT_FALSE(text.contains(QStringLiteral("Ã")));
    EXPECT_TRUE(QString::fromUtf8(body).startsWith(text));
    EXPECT_EQ(text.toUtf8().size(), 49999);
}

} // namespace
