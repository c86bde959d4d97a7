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

const QChar CR(13);

// The text of an RTF document given as a UTF-8 literal of 7-bit RTF.
QString rtf(const char *source) {
    const auto text = readRtf(QByteArray(source));
    EXPECT_TRUE(text.has_value()) << source;
    return text.value_or(QStringLiteral("<nothing>"));
}

QString paragraphs(std::initializer_list<const char *> parts) {
    QString out;
    for (const char *p : parts)
        out += QString::fromUtf8(p) + CR;
    return out;
}

TEST(RtfParagraphs, ParLineAndTab) {
    EXPECT_EQ(rtf("{\\rtf1\\ansi Erste\\par Zweite\\line Zeile\\tab mit Tab\\par}"),
              paragraphs({"Erste", "Zweite", "Zeile\tmit Tab"}));
}

TEST(RtfParagraphs, TextAfterTheLastParIsTheLastParagraph) {
    EXPECT_EQ(rtf("{\\rtf1 eins\\par zwei}"), paragraphs({"eins", "zwei"}));
    EXPECT_EQ(rtf("{\\rtf1 eins\\par \\par }"), paragraphs({"eins", ""}));
}

TEST(RtfParagraphs, EmptyDocumentIsOneEmptyParagraph) {
    EXPECT_EQ(rtf("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}}"), QString(CR));
}

TEST(RtfParagraphs, BackslashBeforeLineEndIsAParagraph) {
    EXPECT_EQ(rtf("{\\rtf1 a\\\nb}"), paragraphs({"a", "b"}));
}

TEST(RtfParagraphs, LineEndsInTheSourceAreNotText) {
    EXPECT_EQ(rtf("{\\rtf1 zusammen\r\ngeschrieben\\par}"), paragraphs({"zusammengeschrieben"}));
}

TEST(RtfCharacters, HexBytesUseTheAnsiCodePage) {
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1252 Gr\\'fc\\'dfe \\'80 \\'84x\\'93}"), paragraphs({"Grüße € „x“"}));
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"), paragraphs({"Привет"}));
}

TEST(RtfCharacters, FontCharsetDecidesTheCodePageOfItsText) {
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset204 Arial Cyr;}"
                  "{\\f2\\fcharset238 Arial CE;}}\\f0 \\'e4 {\\f1 \\'e4} {\\f2 \\'e8} \\plain \\'e4}"),
              paragraphs({"ä д č ä"}));
}

TEST(RtfCharacters, MultiByteCodePageKeepsBytePairsTogether) {
    // Shift-JIS: 93 fa 96 7b = 日本
    EXPECT_EQ(rtf("{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset128 MS Mincho;}}{\\f1 \\'93\\'fa\\'96\\'7b}}"),
              paragraphs({"日本"}));
}

TEST(RtfCharacters, UnicodeWithItsReplacementCharacters) {
    EXPECT_EQ(rtf("{\\rtf1 a\\u8364?b}"), paragraphs({"a€b"}));
    EXPECT_EQ(rtf("{\\rtf1 \\uc2 a\\u8364\\'80\\'80b}"), paragraphs({"a€b"}));
    EXPECT_EQ(rtf("{\\rtf1 \\uc0 a\\u8364 b}"), paragraphs({"a€b"}));
    // Negative values are the upper half; a group end ends the skipping.
    EXPECT_EQ(rtf("{\\rtf1 {\\uc3 \\u-4064?}x}"), paragraphs({"\xEF\x80\xA0x"}));
    // \ucN holds for its group only.
    EXPECT_EQ(rtf("{\\rtf1 {\\uc2 \\u228 ??}\\u246 ?}"), paragraphs({"äö"}));
}

TEST(RtfCharacters, SurrogatePairOfTwoUnicodeWords) {
    EXPECT_EQ(rtf("{\\rtf1 \\u-10188?\\u-8930?}"), paragraphs({"\xF0\x9D\x84\x9E"}));
}

TEST(RtfCharacters, NamedAndEscapedCharacters) {
    EXPECT_EQ(rtf("{\\rtf1 \\ldblquote x\\rdblquote  \\lquote y\\rquote  a\\endash b\\emdash c \\bullet  "
                  "\\{\\}\\\\ d\\~e f\\_g Trenn\\-bar}"),
              paragraphs({"“x” ‘y’ a–b—c • {}\\ d\xC2\xA0" "e f\xE2\x80\x91g Trennbar"}));
}

TEST(RtfSkipping, TablesInfoHeadersAndFootnotesAreNotText) {
    EXPECT_EQ(rtf("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}{\\colortbl;\\red255\\green0\\blue0;}"
                  "{\\stylesheet{\\s0 Normal;}}{\\info{\\title Titel}{\\author Autor}}"
                  "{\\header Kopf\\par}{\\footer Fuß\\par}{\\headerl L}{\\footerf F}"
                  "Text{\\footnote \\chftn Fußnotentext}\\par}"),
              paragraphs({"Text"}));
}

TEST(RtfSkipping, StarDestinationsAreSkippedWhateverTheyHold) {
    EXPECT_EQ(rtf("{\\rtf1 a{\\*\\unbekannt geheim{\\b fett}}b{\\*\\generator X;}c}"), paragraphs({"abc"}));
    // A \* not followed by its control word marks nothing later.
    EXPECT_EQ(rtf("{\\rtf1 \\*x{\\b y}}"), paragraphs({"xy"}));
}

TEST(RtfSkipping, FieldsGiveTheirResult) {
    EXPECT_EQ(rtf("{\\rtf1 Siehe {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt die Seite}}.}"),
              paragraphs({"Siehe die Seite."}));
    EXPECT_EQ(rtf("{\\rtf1 {\\field{\\fldinst PAGE}{\\fldrslt 3}}}"), paragraphs({"3"}));
}

TEST(RtfSkipping, PicturesAndBinaryDataAreSkipped) {
    EXPECT_EQ(rtf("{\\rtf1 a{\\pict\\pngblip 89504e470d0a}b{\\*\\objdata \\bin4 }{}x}c}"), paragraphs({"abc"}));
    // \bin data is not read as RTF, even when it holds braces.
    EXPECT_EQ(rtf("{\\rtf1 a\\bin4 }{\\}b}"), paragraphs({"ab"}));
}

TEST(RtfSkipping, UprReadsOnlyItsUnicodeVersion) {
    EXPECT_EQ(rtf("{\\rtf1 {\\upr{Gr?\\'dfe}{\\*\\ud{Gr\\u252?\\'dfe}}}}"), paragraphs({"Grüße"}));
}

TEST(RtfTables, CellsEndParagraphsRowsAddNothing) {
    EXPECT_EQ(rtf("{\\rtf1 vor\\par\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\par c\\cell\\row"
                  "\\trowd\\intbl \\cell d\\cell\\row\\pard nach\\par}"),
              paragraphs({"vor", "a", "b", "c", "", "d", "nach"}));
}

TEST(RtfTables, NestedTablesAndTheirFallbackText) {
    EXPECT_EQ(rtf("{\\rtf1\\intbl x\\par\\itap2 i1\\nestcell i2\\nestcell{\\*\\nesttableprops\\trowd\\nestrow}"
                  "{\\nonesttables i1 i2\\par}\\itap1\\cell\\row}"),
              paragraphs({"x", "i1", "i2", ""}));
}

TEST(RtfLists, BulletsByLevelAndNumbersAsWritten) {
    EXPECT_EQ(rtf("{\\rtf1 {\\listtext\\pard\\plain \\'b7\\tab}\\ilvl0 eins\\par"
                  "\\pard{\\listtext\\pard\\plain \\u9642?\\tab}\\ilvl1 zwei\\par"
                  "\\pard{\\listtext 3.\\tab}\\ls2\\ilvl0 drei\\par"
                  "\\pard{\\pntext\\f1 a)\\tab}vier\\par\\pard ohne\\par}"),
              paragraphs({"    • eins", "        ◦ zwei", "    3. drei", "    a) vier", "ohne"}));
}

TEST(RtfNotRtf, NoRtfHeaderGivesNothing) {
    EXPECT_FALSE(readRtf(QByteArray("Kein RTF {\\rtf1 a}")).has_value());
    EXPECT_FALSE(readRtf(QByteArray()).has_value());
    EXPECT_FALSE(readRtf(QByteArray("{\\rt")).has_value());
    EXPECT_TRUE(readRtf(QByteArray("\xEF\xBB\xBF\r\n {\\rtf1 x}")).has_value());
}

TEST(RtfJunk, TruncatedDocumentsGiveTheirTextSoFar) {
    const QByteArray whole = readFixture(QStringLiteral("umlaute.rtf"));
    ASSERT_FALSE(whole.isEmpty());
    for (qsizetype cut = 5; cut < whole.size(); cut += 97) {
        const auto text = readRtf(whole.left(cut));
        ASSERT_TRUE(text.has_value()) << cut;
        ASSERT_TRUE(text->endsWith(CR)) << cut;
    }
    const auto full = readRtf(whole);
    ASSERT_TRUE(full.has_value());
    const auto nearly = readRtf(whole.left(whole.size() - 3));
    ASSERT_TRUE(nearly.has_value());
    EXPECT_EQ(*nearly, *full);
}

TEST(RtfJunk, RandomBytesAfterTheHeaderNeverHang) {
    QRandomGenerator random(4711);
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 200; ++round) {
        QByteArray junk("{\\rtf1 ");
        const int size = int(random.bounded(1, 4000));
        for (int i = 0; i < size; ++i)
            junk.append(char(random.bounded(256)));
        const auto text = readRtf(junk);
        ASSERT_TRUE(text.has_value());
        ASSERT_TRUE(text->endsWith(CR));
    }
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(RtfJunk, DamagedFixtureBytesNeverCrash) {
    const QByteArray whole = readFixture(QStringLiteral("liste.rtf"));
    QRandomGenerator random(815);
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = whole;
        for (int k = 0; k < 8; ++k)
            bytes[qsizetype(random.bounded(5, int(bytes.size())))] = char(random.bounded(256));
        const auto text = readRtf(bytes);
        ASSERT_TRUE(text.has_value());
    }
}

TEST(RtfJunk, DeepNestingAndUnbalancedBracesAreHarmless) {
    QElapsedTimer timer;
    timer.start();
    QByteArray deep = "{\\rtf1 " + QByteArray(2'000'000, '{') + "tief" + QByteArray(2'000'000, '}') + " raus}";
    EXPECT_EQ(readRtf(deep).value_or(QString()), paragraphs({"tief raus"}));
    EXPECT_EQ(rtf("{\\rtf1 a}}}}b{{{c"), paragraphs({"abc"}));
    // A skipped destination opened deep inside and never closed.
    QByteArray open = "{\\rtf1 x" + QByteArray(100'000, '{') + "\\*\\foo " + QByteArray(100'000, '{');
    EXPECT_EQ(readRtf(open).value_or(QString()), paragraphs({"x"}));
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(RtfJunk, HugeParametersAndLongWordsAreHarmless) {
    EXPECT_EQ(rtf("{\\rtf1 a\\uc99999999999999999999 \\u99999999999999?b\\bin99999999999999999}"), paragraphs({"a"}));
    EXPECT_EQ(rtf("{\\rtf1 a\\bin-5 b}"), paragraphs({"ab"}));
    const QByteArray longWord = "{\\rtf1 a\\" + QByteArray(100'000, 'x') + " b}";
    EXPECT_EQ(readRtf(longWord).value_or(QString()).left(1), QStringLiteral("a"));
}

TEST(RtfLimit, LongDocumentIsCutAndTheCutIsSaid) {
    QByteArray body = "{\\rtf1 ";
    for (int i = 0; i < 1000; ++i)
        body += "Absatz mit Text\\par ";
    body += "}";
    const auto text = readRtf(body, 100);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->endsWith(CR + platform::documentTruncationNotice() + CR));
    EXPECT_LE(text->size(), 100 + platform::documentTruncationNotice().size() + 2);
}

} // namespace
} // namespace lesemund::testing
