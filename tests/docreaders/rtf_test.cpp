// The RTF reader on small hand-written documents: what it reads, what it
// skips, and junk.
#include "docreaderhelpers.h"

#include "platform/rtfreader.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::readRtf;

struct RtfCase {
    const char *rtf;
    const char *want; // UTF-8, paragraphs ended by \r; nullptr: not RTF
};

TEST(Rtf, DocumentsGiveTheirPlainText) {
    const RtfCase cases[] = {
        // Paragraphs.
        {"{\\rtf1\\ansi Erste\\par Zweite\\line Zeile\\tab mit Tab\\par}", "Erste\rZweite\rZeile\tmit Tab\r"},
        {"{\\rtf1 eins\\par \\par }", "eins\r\r"},
        {"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}}", "\r"},
        {"{\\rtf1 a\\\nb}", "a\rb\r"},
        {"{\\rtf1 zusammen\r\ngeschrieben\\par}", "zusammengeschrieben\r"},
        // Code pages: the document's, each font's charset, multi-byte ones.
        {"{\\rtf1\\ansi\\ansicpg1252 Gr\\'fc\\'dfe \\'80 \\'84x\\'93}", "Grüße € „x“\r"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}", "Привет\r"},
        {"{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset204 Arial Cyr;}"
         "{\\f2\\fcharset238 Arial CE;}}\\f0 \\'e4 {\\f1 \\'e4} {\\f2 \\'e8} \\plain \\'e4}",
         "ä д č ä\r"},
        {"{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset128 MS Mincho;}}{\\f1 \\'93\\'fa\\'96\\'7b}}", "日本\r"},
        // \uN with its \ucN replacement characters; \ucN holds for its group;
        // negative values are the upper half; surrogate pairs.
        {"{\\rtf1 a\\u8364?b}", "a€b\r"},
        {"{\\rtf1 \\uc2 a\\u8364\\'80\\'80b}", "a€b\r"},
        {"{\\rtf1 {\\uc3 \\u-4064?}x}", "\xEF\x80\xA0x\r"},
        {"{\\rtf1 {\\uc2 \\u228 ??}\\u246 ?}", "äö\r"},
        {"{\\rtf1 \\u-10188?\\u-8930?}", "\xF0\x9D\x84\x9E\r"},
        {"{\\rtf1 \\ldblquote x\\rdblquote  \\lquote y\\rquote  a\\endash b\\emdash c \\bullet  "
         "\\{\\}\\\\ d\\~e f\\_g Trenn\\-bar}",
         "“x” ‘y’ a–b—c • {}\\ d\xC2\xA0" "e f\xE2\x80\x91g Trennbar\r"},
        // Skipped destinations: tables, info, headers, footnotes, unknown \*
        // ones, field instructions, pictures, binary data, \upr's ANSI part.
        {"{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}{\\colortbl;\\red255\\green0\\blue0;}"
         "{\\stylesheet{\\s0 Normal;}}{\\info{\\title Titel}{\\author Autor}}"
         "{\\header Kopf\\par}{\\footer Fuß\\par}{\\headerl L}{\\footerf F}Text{\\footnote \\chftn Fußnotentext}\\par}",
         "Text\r"},
        {"{\\rtf1 a{\\*\\unbekannt geheim{\\b fett}}b{\\*\\generator X;}c}", "abc\r"},
        {"{\\rtf1 \\*x{\\b y}}", "xy\r"},
        {"{\\rtf1 Siehe {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt die Seite}}.}", "Siehe die Seite.\r"},
        {"{\\rtf1 a{\\pict\\pngblip 89504e470d0a}b{\\*\\objdata \\bin4 }{}x}c}", "abc\r"},
        {"{\\rtf1 a\\bin4 }{\\}b}", "ab\r"},
        {"{\\rtf1 {\\upr{Gr?\\'dfe}{\\*\\ud{Gr\\u252?\\'dfe}}}}", "Grüße\r"},
        // Tables: cells end paragraphs, rows add nothing; nested tables.
        {"{\\rtf1 vor\\par\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\par c\\cell\\row"
         "\\trowd\\intbl \\cell d\\cell\\row\\pard nach\\par}",
         "vor\ra\rb\rc\r\rd\rnach\r"},
        {"{\\rtf1\\intbl x\\par\\itap2 i1\\nestcell i2\\nestcell{\\*\\nesttableprops\\trowd\\nestrow}"
         "{\\nonesttables i1 i2\\par}\\itap1\\cell\\row}",
         "x\ri1\ri2\r\r"},
        // List labels: bullets by level, numbers as written.
        {"{\\rtf1 {\\listtext\\pard\\plain \\'b7\\tab}\\ilvl0 eins\\par"
         "\\pard{\\listtext\\pard\\plain \\u9642?\\tab}\\ilvl1 zwei\\par"
         "\\pard{\\listtext 3.\\tab}\\ls2\\ilvl0 drei\\par\\pard{\\pntext\\f1 a)\\tab}vier\\par\\pard ohne\\par}",
         "    • eins\r        ◦ zwei\r    3. drei\r    a) vier\rohne\r"},
        // Junk: unbalanced braces, huge or negative parameters.
        {"{\\rtf1 a}}}}b{{{c", "abc\r"},
        {"{\\rtf1 a\\uc99999999999999999999 \\u99999999999999?b\\bin99999999999999999}", "a\r"},
        {"{\\rtf1 a\\bin-5 b}", "ab\r"},
        // No RTF header: nothing (a byte order mark and blanks may come first).
        {"Kein RTF {\\rtf1 a}", nullptr},
        {"{\\rt", nullptr},
        {"\xEF\xBB\xBF\r\n {\\rtf1 x}", "x\r"},
    };
    for (const RtfCase &c : cases) {
        const auto text = readRtf(QByteArray(c.rtf));
        if (c.want)
            EXPECT_EQ(text.value_or(QStringLiteral("<nothing>")), QString::fromUtf8(c.want)) << c.rtf;
        else
            EXPECT_FALSE(text.has_value()) << c.rtf;
    }
}

TEST(RtfJunk, TruncatedDocumentsGiveTheirTextSoFar) {
    const QByteArray whole = readFixture(QStringLiteral("umlaute.rtf"));
    ASSERT_FALSE(whole.isEmpty());
    for (qsizetype cut = 5; cut < whole.size(); cut += 97) {
        const auto text = readRtf(whole.left(cut));
        ASSERT_TRUE(text.has_value() && text->endsWith(CR)) << cut;
    }
    const auto full = readRtf(whole);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(readRtf(whole.left(whole.size() - 3)), full);
    const QByteArray long_ = readFixture(QStringLiteral("zwanzig-seiten.rtf"));
    EXPECT_TRUE(readRtf(long_.left(long_.size() / 2)).value_or(QString()).startsWith(QStringLiteral("Kapitel 1") + CR));
}

// Random bytes after the header, and fixture bytes damaged at random.
TEST(RtfJunk, RandomAndDamagedBytesNeverHang) {
    const QByteArray liste = readFixture(QStringLiteral("liste.rtf"));
    QRandomGenerator random(4711);
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = round % 2 ? QByteArray("{\\rtf1 ") : liste;
        if (round % 2) {
            for (int i = int(random.bounded(1, 4000)); i > 0; --i)
                bytes.append(char(random.bounded(256)));
        } else {
            for (int k = 0; k < 8; ++k)
                bytes[qsizetype(random.bounded(5, int(bytes.size())))] = char(random.bounded(256));
        }
        const auto text = readRtf(bytes);
        ASSERT_TRUE(text.has_value() && text->endsWith(CR)) << round;
    }
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(RtfJunk, DeepNestingAndLongWordsAreHarmless) {
    QElapsedTimer timer;
    timer.start();
    const QByteArray deep = "{\\rtf1 " + QByteArray(2'000'000, '{') + "tief" + QByteArray(2'000'000, '}') + " raus}";
    EXPECT_EQ(readRtf(deep), paragraphs({"tief raus"}));
    // A skipped destination opened deep inside and never closed.
    const QByteArray open = "{\\rtf1 x" + QByteArray(100'000, '{') + "\\*\\foo " + QByteArray(100'000, '{');
    EXPECT_EQ(readRtf(open), paragraphs({"x"}));
    const QByteArray longWord = "{\\rtf1 a\\" + QByteArray(100'000, 'x') + " b}";
    EXPECT_EQ(readRtf(longWord).value_or(QString()).left(1), QStringLiteral("a"));
    EXPECT_LT(timer.elapsed(), 5000);
}

} // namespace
} // namespace lesemund::testing
