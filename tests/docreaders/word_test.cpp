// The Word 97-2003 reader on the fixtures and on damaged copies of them.
#include "docreaderhelpers.h"

#include "platform/documentreaderword.h"
#include "wordbuilder.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::readWordDocument;
using platform::readWordDocumentFile;

const QChar CR(13);

QByteArray fixture(const char *name) { return readFixture(QString::fromLatin1(name)); }

TEST(WordReader, MemoryAndFileGiveTheSameText) {
    for (const char *name : {"tabelle.doc", "zwanzig-seiten.doc"}) {
        const auto fromFile = readWordDocumentFile(fixturePath(QString::fromLatin1(name)));
        const auto fromMemory = readWordDocument(fixture(name));
        ASSERT_TRUE(fromFile.text.has_value()) << name;
        ASSERT_TRUE(fromMemory.text.has_value()) << name;
        EXPECT_EQ(*fromFile.text, *fromMemory.text) << name;
        EXPECT_TRUE(fromFile.compoundFile);
        EXPECT_FALSE(fromFile.encrypted);
    }
}

TEST(WordReader, HeadersFootersAndFootnoteTextsAreNotPartOfTheText) {
    const auto text = readWordDocument(fixture("kopfzeile.doc")).text.value_or(QString());
    EXPECT_TRUE(text.startsWith(QStringLiteral("Dieses Dokument hat eine Kopfzeile")));
    EXPECT_FALSE(text.contains(QStringLiteral("Tastvolk"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Fußzeile –"))) << text.toStdString();
    const auto notes = readWordDocument(fixture("sonderfaelle.doc")).text.value_or(QString());
    EXPECT_TRUE(notes.contains(QStringLiteral("Eine Fußnote hier1 und weiter.") + CR));
    EXPECT_FALSE(notes.contains(QStringLiteral("Der Text der Fußnote")));
    EXPECT_FALSE(notes.contains(QStringLiteral("HYPERLINK")));
}

TEST(WordReader, LongDocumentIsCutAtTheLimitAndTheCutIsSaid) {
    const auto text = readWordDocument(fixture("zwanzig-seiten.doc"), 1000).text;
    ASSERT_TRUE(text.has_value());
    const QString notice = platform::documentTruncationNotice();
    EXPECT_TRUE(text->startsWith(QStringLiteral("Kapitel 1") + CR));
    EXPECT_TRUE(text->endsWith(CR + notice + CR));
    EXPECT_LE(text->size(), 1000 + notice.size() + 2);
}

TEST(WordReaderBadInput, NotACompoundFile) {
    const auto r = readWordDocument(QByteArray("{\\rtf1 Das ist RTF}"));
    EXPECT_FALSE(r.text.has_value());
    EXPECT_FALSE(r.compoundFile);
    EXPECT_FALSE(readWordDocument(QByteArray()).text.has_value());
    QTemporaryDir dir;
    EXPECT_FALSE(readWordDocumentFile(dir.path()).text.has_value());
    EXPECT_FALSE(readWordDocumentFile(dir.path() + "/fehlt.doc").text.has_value());
}

TEST(WordReaderBadInput, TruncatedFilesGiveNothingOrTextButNeverCrash) {
    const QByteArray whole = fixture("sonderfaelle.doc");
    ASSERT_GT(whole.size(), 4096);
    int readable = 0;
    for (qsizetype cut = 0; cut < whole.size(); cut += 61) {
        const auto r = readWordDocument(whole.left(cut));
        if (r.text) {
            ++readable;
            EXPECT_TRUE(r.text->endsWith(CR));
        }
    }
    // Cut anywhere before the end, the streams lie (partly) outside the file.
    EXPECT_EQ(readable, 0);
}

TEST(WordReaderBadInput, RandomlyDamagedFilesNeverCrashOrHang) {
    QRandomGenerator random(2024);
    QElapsedTimer timer;
    timer.start();
    for (const char *name : {"tabelle.doc", "liste.doc", "sonderfaelle.doc"}) {
        const QByteArray whole = fixture(name);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = whole;
            const int damage = int(random.bounded(1, 20));
            for (int k = 0; k < damage; ++k)
                bytes[qsizetype(random.bounded(8, int(bytes.size())))] = char(random.bounded(256));
            const auto r = readWordDocument(bytes);
            if (r.text) {
                ASSERT_TRUE(r.text->endsWith(CR));
            }
        }
    }
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST(WordReaderBadInput, LoopInTheDirectoryChainIsRefused) {
    QByteArray bytes = fixture("tabelle.doc");
    const Layout layout{bytes};
    const quint32 dir = layout.firstDirectorySector();
    put32(bytes, layout.fatEntry(dir), dir);
    EXPECT_FALSE(readWordDocument(bytes).text.has_value());
}

TEST(WordReaderBadInput, LoopInTheTextStreamChainIsRefused) {
    QByteArray bytes = fixture("zwanzig-seiten.doc");
    const Layout layout{bytes};
    const quint32 start = layout.streamStart("WordDocument");
    const quint32 second = get32(bytes, layout.fatEntry(start));
    put32(bytes, layout.fatEntry(second), start);
    EXPECT_FALSE(readWordDocument(bytes).text.has_value());
}

TEST(WordReaderBadInput, EncryptedDocumentIsToldApart) {
    QByteArray bytes = fixture("tabelle.doc");
    const Layout layout{bytes};
    const qsizetype fib = layout.wordStreamOffset();
    ASSERT_EQ(quint8(bytes[fib]), 0xEC);
    ASSERT_EQ(quint8(bytes[fib + 1]), 0xA5);
    bytes[fib + 0x0B] = char(quint8(bytes[fib + 0x0B]) | 0x01);
    const auto r = readWordDocument(bytes);
    EXPECT_FALSE(r.text.has_value());
    EXPECT_TRUE(r.encrypted);
}

TEST(WordReaderBadInput, Word95AndForeignStreamsAreNotRead) {
    QByteArray old = fixture("tabelle.doc");
    const Layout layout{old};
    const qsizetype fib = layout.wordStreamOffset();
    old[fib + 2] = char(0x68); // nFib of Word 95
    old[fib + 3] = 0;
    EXPECT_FALSE(readWordDocument(old).text.has_value());

    QByteArray foreign = fixture("tabelle.doc");
    foreign[fib] = 'X'; // no Word text stream signature
    EXPECT_FALSE(readWordDocument(foreign).text.has_value());
}

TEST(WordReaderBadInput, HugeCharacterCountReadsWhatThePiecesHold) {
    QByteArray bytes = fixture("tabelle.doc");
    const Layout layout{bytes};
    const qsizetype fib = layout.wordStreamOffset();
    put32(bytes, fib + 0x4C, 0x7FFFFFFF); // ccpText
    const auto r = readWordDocument(bytes);
    ASSERT_TRUE(r.text.has_value());
    EXPECT_TRUE(r.text->startsWith(QStringLiteral("Vor der Tabelle.") + CR));
}

// --- built documents ---------------------------------------------------------

QString builtText(const WordBuilder &builder) {
    const auto r = readWordDocument(builder.build());
    EXPECT_TRUE(r.text.has_value());
    return r.text.value_or(QStringLiteral("<nothing>"));
}

QString u(const char *utf8) { return QString::fromUtf8(utf8); }

TEST(WordReaderBuilt, PiecesInAnyStorageOrderAndEightBitPieces) {
    WordBuilder b;
    b.pieces = {{u("Grüße für 5 € "), true}, {u("und „mehr“ Ω\r"), false}, {u("Zweiter\r"), true}};
    b.storageOrder = {2, 0, 1};
    EXPECT_EQ(builtText(b), u("Grüße für 5 € und „mehr“ Ω\rZweiter\r"));
}

TEST(WordReaderBuilt, OnlyTheMainTextIsRead) {
    WordBuilder b;
    b.pieces = {{u("Haupttext\r"), false}, {u("Fußnote\rKopfzeile\r\r"), false}};
    b.ccpText = 10;
    EXPECT_EQ(builtText(b), u("Haupttext\r"));
}

TEST(WordReaderBuilt, FieldsGiveTheirResultNestedOrNot) {
    WordBuilder b;
    b.pieces = {{u("Vor \x13 HYPERLINK \"x\" \x14" "Ergebnis\x15 nach\r"
                   "\x13 IF \x13 PAGE \x14" "1\x15 = 1 \x14ja\x15\r"
                   "ohne\x13 TC Eintrag \x15 Ergebnis\r"
                   "lose \x14Zeichen\x15\r"),
                 false}};
    EXPECT_EQ(builtText(b), u("Vor Ergebnis nach\rja\rohne Ergebnis\rlose Zeichen\r"));
}

TEST(WordReaderBuilt, BreaksAndSpecialCharacters) {
    WordBuilder b;
    b.pieces = {{u("Zeile\x0bumbruch\r\x0cNeue Seite\rText\x0cweiter\r"
                   "A\x1e" "B Trenn\x1f" "bar\x01\x08\x05 Fuß\x02 und\x02\tTab\r"),
                 false}};
    EXPECT_EQ(builtText(b), u("Zeile\rumbruch\rNeue Seite\rText\rweiter\r"
                              "A\u2011B Trennbar Fuß1 und2\tTab\r"));
}

TEST(WordReaderBuilt, TableCellsEndParagraphsRowEndsAddNothing) {
    WordBuilder b;
    // Row 1: "a", "b"; row 2: "c", an empty cell. Row end marks at 4 and 8.
    b.pieces = {{u("a\x07" "b\x07\x07" "c\x07\x07\x07Nach\r"), false}};
    b.rowEndMarks = {4, 8};
    EXPECT_EQ(builtText(b), u("a\rb\rc\r\rNach\r"));
    // Without the paragraph properties every mark ends a paragraph.
    b.rowEndMarks.clear();
    EXPECT_EQ(builtText(b), u("a\rb\r\rc\r\r\rNach\r"));
}

TEST(WordReaderBuilt, RowEndMarksInEightBitPiecesToo) {
    WordBuilder b;
    b.pieces = {{u("vor\r"), false}, {u("x\x07y\x07\x07"), true}, {u("nach\r"), false}};
    b.rowEndMarks = {8};
    EXPECT_EQ(builtText(b), u("vor\rx\ry\rnach\r"));
}

TEST(WordReaderBuilt, EmptyMainTextIsOneEmptyParagraph) {
    WordBuilder b;
    b.pieces = {{u("\r"), false}};
    EXPECT_EQ(builtText(b), u("\r"));
}

TEST(WordReaderBuilt, MissingFinalParagraphMarkIsAdded) {
    WordBuilder b;
    b.pieces = {{u("eins\rzwei"), false}};
    EXPECT_EQ(builtText(b), u("eins\rzwei\r"));
}

// A damaged piece table that sends the reader over the same bytes again and
// again must not hold it for long.
TEST(WordReaderBuilt, EndlesslyRepeatedPiecesAreBounded) {
    WordBuilder b;
    b.pieces = {{QString(30000, QChar(0)), true}};
    b.pieceRepeats = 60000;
    const QByteArray bytes = b.build();
    QElapsedTimer timer;
    timer.start();
    const auto r = readWordDocument(bytes);
    EXPECT_LT(timer.elapsed(), 5000);
    ASSERT_TRUE(r.text.has_value());
    EXPECT_TRUE(r.text->endsWith(platform::documentTruncationNotice() + CR));
}

} // namespace
} // namespace lesemund::testing
