// The plain text reader: encodings, line ends, the size limit and big files.
#include "docreaderhelpers.h"

#include "platform/documentreadertext.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace lesemund::testing {
namespace {

using platform::plainTextBytesToParagraphs;
using platform::readPlainTextDocument;

const QChar CR(13);

QString paragraphs(std::initializer_list<const char *> parts) {
    QString out;
    for (const char *p : parts)
        out += QString::fromUtf8(p) + CR;
    return out;
}

TEST(PlainTextLineEnds, CrLfLfAndCrEachEndAParagraph) {
    EXPECT_EQ(plainTextBytesToParagraphs("eins\r\nzwei\ndrei\rvier\r\n"),
              paragraphs({"eins", "zwei", "drei", "vier"}));
}

TEST(PlainTextLineEnds, CrFollowedByCrLfIsAnEmptyParagraph) {
    EXPECT_EQ(plainTextBytesToParagraphs("a\r\r\nb\n\nc\r\rd"), paragraphs({"a", "", "b", "", "c", "", "d"}));
}

TEST(PlainTextLineEnds, FinalLineWithoutLineEndGetsItsParagraphMark) {
    EXPECT_EQ(plainTextBytesToParagraphs("a\nb"), paragraphs({"a", "b"}));
    EXPECT_EQ(plainTextBytesToParagraphs("nur eine Zeile"), paragraphs({"nur eine Zeile"}));
}

TEST(PlainTextLineEnds, FinalLineEndAddsNoEmptyParagraph) {
    EXPECT_EQ(plainTextBytesToParagraphs("a\nb\n"), paragraphs({"a", "b"}));
    EXPECT_EQ(plainTextBytesToParagraphs("a\n\n"), paragraphs({"a", ""}));
}

TEST(PlainTextLineEnds, EmptyTextIsOneEmptyParagraph) {
    EXPECT_EQ(plainTextBytesToParagraphs(""), QString(CR));
    EXPECT_EQ(plainTextBytesToParagraphs("\n"), QString(CR));
    EXPECT_EQ(plainTextBytesToParagraphs("\r\n\r\n"), paragraphs({"", ""}));
}

TEST(PlainTextEncoding, ValidUtf8IsReadAsUtf8) {
    EXPECT_EQ(plainTextBytesToParagraphs("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"), paragraphs({"Grüße €"}));
}

TEST(PlainTextEncoding, AnythingElseIsWindows1252) {
    // One byte that is no UTF-8 makes the whole text Windows-1252, also
    // the part before it that would have been valid UTF-8.
    EXPECT_EQ(plainTextBytesToParagraphs("\xC3\xBC und Gr\xFC\xDF" "e \x80 \x84" "Zitat\x93"),
              paragraphs({"Ã¼ und Grüße € „Zitat“"}));
}

TEST(PlainTextEncoding, ByteOrderMarksDecideAndAreDropped) {
    EXPECT_EQ(plainTextBytesToParagraphs("\xEF\xBB\xBF\xC3\xA4\n"), paragraphs({"ä"}));
    EXPECT_EQ(plainTextBytesToParagraphs(QByteArray("\xFF\xFE\xE4\x00\r\x00\n\x00x\x00", 10)),
              paragraphs({"ä", "x"}));
    EXPECT_EQ(plainTextBytesToParagraphs(QByteArray("\xFE\xFF\x20\xAC\x00\n", 6)), paragraphs({"€"}));
}

TEST(PlainTextEncoding, NothingElseIsChanged) {
    const QByteArray bytes("\tTab  und  Blanks \x01 \xC2\xA0 Ende ");
    EXPECT_EQ(plainTextBytesToParagraphs(bytes), QString::fromUtf8(bytes) + CR);
}

TEST(PlainTextLimit, TextBeyondTheLimitIsCutAndTheCutIsSaid) {
    const QString text = plainTextBytesToParagraphs(QByteArray(30, 'x') + "\nmehr", 10);
    EXPECT_EQ(text, QStringLiteral("xxxxxxxxxx") + CR + platform::documentTruncationNotice() + CR);
    EXPECT_TRUE(platform::documentTruncationNotice().startsWith(QStringLiteral("[Der Text wurde")));
}

TEST(PlainTextLimit, TextOfExactlyTheLimitIsNotCut) {
    EXPECT_EQ(plainTextBytesToParagraphs("abcd\nefg", 9), paragraphs({"abcd", "efg"}));
}

TEST(PlainTextLimit, CutNeverSplitsASurrogatePair) {
    const QString text = plainTextBytesToParagraphs("abc\xF0\x9D\x84\x9E" "def", 4);
    EXPECT_TRUE(text.startsWith(QStringLiteral("abc") + CR + QStringLiteral("[Der Text"))) << text.toStdString();
}

TEST(PlainTextFile, MissingFolderAndDeviceGiveNothing) {
    QTemporaryDir dir;
    EXPECT_FALSE(readPlainTextDocument(dir.path() + "/fehlt.txt").has_value());
    EXPECT_FALSE(readPlainTextDocument(dir.path()).has_value());
    EXPECT_FALSE(readPlainTextDocument(QStringLiteral("/dev/zero")).has_value());
}

long maxResidentKilobytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A 200 MB text file (sparse after its first 30 MB of text lines): read in
// well under a second, cut at the limit, without reading the file whole.
TEST(PlainTextFile, TwoHundredMegabyteFileIsCutAtTheLimitWithoutReadingItWhole) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/riesig.txt";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray line("Zeile mit Umlauten \xC3\xA4\xC3\xB6\xC3\xBC und dem Euro \xE2\x82\xAC.\n");
        QByteArray block;
        while (block.size() < (1 << 20))
            block += line;
        for (int i = 0; i < 30; ++i)
            ASSERT_EQ(f.write(block), block.size());
        ASSERT_TRUE(f.resize(200LL * 1024 * 1024));
    }
    const long before = maxResidentKilobytes();
    QElapsedTimer timer;
    timer.start();
    const auto text = readPlainTextDocument(path);
    const qint64 ms = timer.elapsed();
    ASSERT_TRUE(text.has_value());
    const QString notice = platform::documentTruncationNotice();
    EXPECT_TRUE(text->endsWith(CR + notice + CR));
    EXPECT_LE(text->size(), platform::kDocumentTextLimit + notice.size() + 2);
    EXPECT_GE(text->size(), platform::kDocumentTextLimit - 100);
    // Valid UTF-8 up to the cut: the umlauts are read as UTF-8.
    EXPECT_TRUE(text->startsWith(QStringLiteral("Zeile mit Umlauten äöü und dem Euro €.") + CR));
    EXPECT_LT(ms, 3000);
    // The file is 200 MB; what was read and decoded stays far below it.
    EXPECT_LT(maxResidentKilobytes() - before, 150L * 1024);
}

TEST(PlainTextFile, Utf8CharacterCutAtTheReadLimitKeepsTheTextUtf8) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/schnitt.txt";
    // The limit of 10 characters reads 48 bytes; the 48th byte is the first
    // of a two-byte character, which must not make the text Windows-1252.
    QByteArray bytes = "\xC3\xA4" + QByteArray(45, 'a') + "\xC3\xA4" + QByteArray(20, 'b');
    ASSERT_TRUE(writeBytes(path, bytes));
    const auto text = readPlainTextDocument(path, 10);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, QStringLiteral("ä") + QString(9, QLatin1Char('a')) + CR +
                         platform::documentTruncationNotice() + CR);
}

} // namespace
} // namespace lesemund::testing
