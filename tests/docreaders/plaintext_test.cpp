// The plain text reader: line ends, encodings, the size limit and big files.
#include "docreaderhelpers.h"

#include "platform/documentreadertext.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace lesemund::testing {
namespace {

using platform::documentTruncationNotice;
using platform::plainTextBytesToParagraphs;
using platform::readPlainTextDocument;

struct BytesCase {
    QByteArray bytes;
    QString want;
    qsizetype limit = platform::kDocumentTextLimit;
};

TEST(PlainText, LineEndsEncodingsAndLimit) {
    const QString cut = documentTruncationNotice() + CR;
    const BytesCase cases[] = {
        // CR LF, LF and CR each end a paragraph; a last line needs no end;
        // a final line end adds no empty paragraph.
        {"eins\r\nzwei\ndrei\rvier\r\n", paragraphs({"eins", "zwei", "drei", "vier"})},
        {"a\r\r\nb\n\nc\r\rd", paragraphs({"a", "", "b", "", "c", "", "d"})},
        {"a\n\n", paragraphs({"a", ""})},
        {"", QString(CR)},
        {"\n", QString(CR)},
        {"\r\n\r\n", paragraphs({"", ""})},
        // Valid UTF-8 is UTF-8; one byte that is no UTF-8 makes all of the
        // text Windows-1252, also the part that would have been UTF-8.
        {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", paragraphs({"Grüße €"})},
        {"\xC3\xBC und Gr\xFC\xDF" "e \x80 \x84" "Zitat\x93", paragraphs({"Ã¼ und Grüße € „Zitat“"})},
        // Byte order marks decide and are dropped.
        {"\xEF\xBB\xBF\xC3\xA4\n", paragraphs({"ä"})},
        {QByteArray("\xFF\xFE\xE4\x00\r\x00\n\x00x\x00", 10), paragraphs({"ä", "x"})},
        {QByteArray("\xFE\xFF\x20\xAC\x00\n", 6), paragraphs({"€"})},
        // Nothing else is changed.
        {"\tTab  und  Blanks \x01 \xC2\xA0 Ende ", QString::fromUtf8("\tTab  und  Blanks \x01 \xC2\xA0 Ende ") + CR},
        // The limit: exactly the limit is not cut; beyond it the cut is said,
        // never inside a surrogate pair.
        {"abcd\nefg", paragraphs({"abcd", "efg"}), 9},
        {QByteArray(30, 'x') + "\nmehr", paragraphs({"xxxxxxxxxx"}) + cut, 10},
        {"abc\xF0\x9D\x84\x9E" "def", paragraphs({"abc"}) + cut, 4},
    };
    for (const BytesCase &c : cases)
        EXPECT_EQ(plainTextBytesToParagraphs(c.bytes, c.limit), c.want) << c.bytes.toHex(' ').toStdString();
    EXPECT_TRUE(documentTruncationNotice().startsWith(QStringLiteral("[Der Text wurde")));
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
        QByteArray block;
        while (block.size() < (1 << 20))
            block += "Zeile mit Umlauten \xC3\xA4\xC3\xB6\xC3\xBC und dem Euro \xE2\x82\xAC.\n";
        for (int i = 0; i < 30; ++i)
            ASSERT_EQ(f.write(block), block.size());
        ASSERT_TRUE(f.resize(200LL * 1024 * 1024));
    }
    const long before = maxResidentKilobytes();
    QElapsedTimer timer;
    timer.start();
    const auto text = readPlainTextDocument(path);
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_TRUE(text.has_value());
    const QString notice = documentTruncationNotice();
    EXPECT_TRUE(text->endsWith(CR + notice + CR));
    EXPECT_LE(text->size(), platform::kDocumentTextLimit + notice.size() + 2);
    EXPECT_GE(text->size(), platform::kDocumentTextLimit - 100);
    EXPECT_TRUE(text->startsWith(QStringLiteral("Zeile mit Umlauten äöü und dem Euro €.") + CR));
    EXPECT_LT(maxResidentKilobytes() - before, 150L * 1024);
}

TEST(PlainTextFile, Utf8CharacterCutAtTheReadLimitKeepsTheTextUtf8) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/schnitt.txt";
    // The limit of 10 characters reads 48 bytes; the 48th byte is the first
    // of a two-byte character, which must not make the text Windows-1252.
    ASSERT_TRUE(writeBytes(path, "\xC3\xA4" + QByteArray(45, 'a') + "\xC3\xA4" + QByteArray(20, 'b')));
    EXPECT_EQ(readPlainTextDocument(path, 10),
              QStringLiteral("ä") + QString(9, QLatin1Char('a')) + CR + documentTruncationNotice() + CR);
}

} // namespace
} // namespace lesemund::testing
