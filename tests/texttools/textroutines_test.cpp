#include "platform/codepage.h"
#include "texttools/textroutines.h"

#include <gtest/gtest.h>

using namespace lesemund;

TEST(ZeichenErsetzen, ReplacesLeftToRightInPlace) {
    struct Case {
        const char *text, *alt, *neu, *expected;
    } cases[] = {
        {"a/b/c", "/", "\\", "a\\b\\c"},
        {"aaa", "aa", "b", "ba"},           // no overlapping matches
        {"x", "x", "xx", "xx"},             // inserted text is not searched again
        {"", "/", "\\", ""},
        {"abc", "ABC", "z", "abc"},         // case-sensitive
        {"http://h/a.txt.ok", ".txt", "", "http://h/a.ok"},
    };
    for (const Case &c : cases) {
        QString text = QString::fromUtf8(c.text);
        const QString result = ZeichenErsetzen(text, QString::fromUtf8(c.alt), QString::fromUtf8(c.neu));
        EXPECT_EQ(result, QString::fromUtf8(c.expected)) << c.text;
        EXPECT_EQ(text, result) << "the passed text is changed too: " << c.text;
    }
}

TEST(ZeichenErsetzen, EmptySearchTextReturnsTextUnchanged) {
    QString text = "unverändert";
    EXPECT_EQ(ZeichenErsetzen(text, "", "x"), QString("unverändert"));
    EXPECT_EQ(text, QString("unverändert"));
}

TEST(ZeilenumbruchErsetzen, EveryCarriageReturnGetsALineFeed) {
    EXPECT_EQ(ZeilenumbruchErsetzen("x\ry"), QString("x\r\ny"));
    EXPECT_EQ(ZeilenumbruchErsetzen("x\r\r"), QString("x\r\n\r\n"));
    EXPECT_EQ(ZeilenumbruchErsetzen("\r"), QString("\r\n"));
    EXPECT_EQ(ZeilenumbruchErsetzen("a\r\nb"), QString("a\r\n\nb"));
    EXPECT_EQ(ZeilenumbruchErsetzen("ohne"), QString("ohne"));
}

TEST(Codepage, GermanTextRoundTripsThroughWindows1252) {
    const QString text = QString::fromUtf8("Äpfel, Öl, Übermut, süß – 5 €");
    const QByteArray bytes = codepage::toAnsi(text);
    EXPECT_EQ(uchar(bytes[0]), 0xC4);
    EXPECT_EQ(uchar(bytes.back()), 0x80);              // euro sign
    EXPECT_EQ(uchar(bytes[bytes.size() - 5]), 0x96);   // en dash
    EXPECT_EQ(codepage::fromAnsi(bytes), text);
}

TEST(Codepage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(codepage::toAnsi(QString::fromUtf8("a\u0436b")), QByteArray("a?b"));
    EXPECT_EQ(codepage::toAnsi(QString::fromUtf8("x\U0001F600y")), QByteArray("x?y"));
    // Every byte decodes to one character and back to the same byte.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(codepage::toAnsi(codepage::fromAnsi(all)), all);
}

TEST(Codepage, Utf8OrAnsi) {
    EXPECT_EQ(codepage::fromUtf8OrAnsi(QByteArray("\xC3\xA4")), QString::fromUtf8("ä"));
    EXPECT_EQ(codepage::fromUtf8OrAnsi(QByteArray("\xE4")), QString::fromUtf8("ä"));
    EXPECT_FALSE(codepage::isValidUtf8(QByteArray("\xC3")));
}
