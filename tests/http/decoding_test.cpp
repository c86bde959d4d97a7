// Turning a fetched body into text: UTF-8 or Windows-1252, and the cut at
// the byte limit that must not leave half a character behind.
#include "platform/curlhttpclient.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using lesemund::platform::contentTypeSaysUtf8;
using lesemund::platform::CurlHttpClient;
using lesemund::platform::decodeHttpBody;
using lesemund::platform::HttpResult;
using lesemund::testing::HttpTestServer;

namespace {

const QString kGruesse = QStringLiteral("Grüße aus Köln, 5 € für Äpfel");
const QByteArray kGruesseAnsi = "Gr\xFC\xDF" "e aus K\xF6ln, 5 \x80 f\xFCr \xC4pfel";

TEST(ContentTypeCharset, OnlyACharsetParameterNamingUtf8Counts) {
    const std::pair<const char *, bool> cases[] = {
        {"text/plain; charset=utf-8", true},
        {"text/plain;charset=UTF-8", true},
        {"text/html; charset=\"utf-8\"", true},
        {"text/plain; format=flowed; Charset = utf8", true},
        {"", false},
        {"text/plain", false},
        {"text/plain; charset=windows-1252", false},
        {"text/utf-8", false},
        {"text/plain; name=utf-8", false},
    };
    for (const auto &[type, utf8] : cases)
        EXPECT_EQ(contentTypeSaysUtf8(type), utf8) << type;
}

TEST(BodyDecoding, Utf8OrWindows1252AndACutThatSplitsACharacter) {
    struct Case {
        const char *what;
        QByteArray body, type;
        bool cut;
        QString text;
    };
    const QByteArray broken = QStringLiteral("Müller").toUtf8() + "\xFF" + QStringLiteral("Straße").toUtf8();
    const QString head = QStringLiteral("Preis ü ");
    const QByteArray euro = QStringLiteral("€").toUtf8();
    const QByteArray emoji = QString::fromUcs4(U"\U0001F600").toUtf8();
    const Case cases[] = {
        {"UTF-8, plain type", kGruesse.toUtf8(), "text/plain", false, kGruesse},
        {"UTF-8, no type", kGruesse.toUtf8(), "", false, kGruesse},
        {"Windows-1252", kGruesseAnsi, "text/plain", false, kGruesse},
        {"Windows-1252 named Latin-1", kGruesseAnsi, "text/plain; charset=iso-8859-1", false, kGruesse},
        // The charset decides for UTF-8: the stray byte alone is replaced.
        {"UTF-8 charset, stray byte", broken, "text/plain; charset=utf-8", false,
         QStringLiteral("Müller") + QChar(0xFFFD) + QStringLiteral("Straße")},
        {"no charset, stray byte", broken, "text/plain", false, QStringLiteral("MÃ¼llerÿStraÃŸe")},
        {"cut in a 2-byte character", QByteArray(10, 'a') + "\xC3", "text/plain", true, QString(10, QChar('a'))},
        {"cut after 1 of 3 bytes", head.toUtf8() + euro.left(1), "", true, head},
        {"cut after 2 of 3 bytes", head.toUtf8() + euro.left(2), "", true, head},
        {"cut after 1 of 4 bytes", head.toUtf8() + emoji.left(1), "", true, head},
        {"cut after 3 of 4 bytes", head.toUtf8() + emoji.left(3), "", true, head},
        {"cut right after a character", head.toUtf8() + euro, "", true, head + QStringLiteral("€")},
        // Windows-1252 text is no UTF-8 even without its last byte: it stays.
        {"Windows-1252, cut", "Gr\xFC\xDF", "text/plain", true, QStringLiteral("Grüß")},
        // A whole body ending in a lone lead byte is no UTF-8.
        {"not cut, lone lead byte", "abc\xC3", "text/plain", false, QStringLiteral("abcÃ")},
        {"empty", "", "text/plain; charset=utf-8", true, QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decodeHttpBody(c.body, c.type, c.cut), c.text) << c.what;
}

class FetchedTextTest : public ::testing::Test {
protected:
    HttpTestServer server;
    CurlHttpClient client;
};

TEST_F(FetchedTextTest, ServersContentTypeAndBodyDecideTheText) {
    const std::tuple<QByteArray, QByteArray, QString> cases[] = {
        {kGruesse.toUtf8(), "text/plain", kGruesse},
        {kGruesseAnsi, "text/plain", kGruesse},
        {QStringLiteral("Tür").toUtf8() + "\x80", "text/plain; charset=UTF-8", QStringLiteral("Tür") + QChar(0xFFFD)},
    };
    for (const auto &[body, type, text] : cases) {
        server.serve("/text.txt", body, type);
        const HttpResult r = client.get(server.url("/text.txt"));
        EXPECT_EQ(r.contentType, type);
        EXPECT_EQ(r.text(), text) << type.constData();
    }
}

TEST_F(FetchedTextTest, CutAt50000InsideAnUmlautKeepsTheTextUtf8) {
    // 49 999 letters, then "ü" across the limit, then more text.
    server.serve("/schnitt.txt", QByteArray(49999, 'a') + QStringLiteral("ü und noch mehr").toUtf8());
    const HttpResult r = client.get(server.url("/schnitt.txt"));
    ASSERT_TRUE(r.truncated);
    ASSERT_EQ(r.body.size(), 50000);
    EXPECT_EQ(static_cast<unsigned char>(r.body.back()), 0xC3);
    EXPECT_EQ(r.text(), QString(49999, QChar('a')));
}

} // namespace
