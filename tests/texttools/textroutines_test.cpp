#include "docreaders/codepage.h"
#include "texttools/textroutines.h"

#include <gtest/gtest.h>

using namespace lesemund;

TEST(TextRoutines, ReplaceInPlaceLineFeedsAndWindows1252) {
    const char *cases[][4] = {{"a/b/c", "/", "\\", "a\\b\\c"}, {"aaa", "aa", "b", "ba"}, {"x", "x", "xx", "xx"},
                              {"abc", "ABC", "z", "abc"}, {"http://h/a.txt.ok", ".txt", "", "http://h/a.ok"},
                              {"unverändert", "", "x", "unverändert"}};
    for (const auto &[text, alt, neu, want] : cases) { // left to right, the passed text too
        QString s = text;
        EXPECT_EQ(ZeichenErsetzen(s, alt, neu), want) << text;
        EXPECT_EQ(s, want) << text;
    }
    EXPECT_EQ(ZeilenumbruchErsetzen("x\ry\r\r a\r\nb"), "x\r\ny\r\n\r\n a\r\n\nb");
    const QString text = QString::fromUtf8("Äpfel, süß – 5 €");
    EXPECT_EQ(codepage::toAnsi(text), "\xC4pfel, s\xFC\xDF \x96 5 \x80");
    EXPECT_EQ(codepage::fromAnsi(codepage::toAnsi(text)), text);
    EXPECT_EQ(codepage::toAnsi(QString::fromUtf8("a\u0436b x\U0001F600y")), "a?b x?y");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(codepage::toAnsi(codepage::fromAnsi(all)), all) << "every byte is one character";
    EXPECT_EQ(codepage::fromUtf8OrAnsi("\xC3\xA4") + codepage::fromUtf8OrAnsi("\xE4"), QString::fromUtf8("ää"));
    EXPECT_FALSE(codepage::isValidUtf8("\xC3"));
}
