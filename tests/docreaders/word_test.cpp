// The Word 97-2003 reader on damaged copies of the fixtures and on small
// documents built byte by byte.
#include "docreaderhelpers.h"

#include "platform/codepage.h"
#include "platform/documentreaderword.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::readWordDocument;

QByteArray fixture(const char *name) { return readFixture(QString::fromLatin1(name)); }

TEST(WordReaderBadInput, TruncatedFilesGiveNothing) {
    const QByteArray whole = fixture("sonderfaelle.doc");
    ASSERT_GT(whole.size(), 4096);
    // Cut anywhere before the end, the streams lie (partly) outside the file.
    for (qsizetype cut = 0; cut < whole.size(); cut += 61)
        EXPECT_FALSE(readWordDocument(whole.left(cut)).text.has_value()) << cut;
}

TEST(WordReaderBadInput, RandomlyDamagedFilesNeverCrashOrHang) {
    QRandomGenerator random(2024);
    QElapsedTimer timer;
    timer.start();
    for (const char *name : {"tabelle.doc", "liste.doc", "sonderfaelle.doc"}) {
        const QByteArray whole = fixture(name);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = whole;
            for (int k = int(random.bounded(1, 20)); k > 0; --k)
                bytes[qsizetype(random.bounded(8, int(bytes.size())))] = char(random.bounded(256));
            const auto r = readWordDocument(bytes);
            ASSERT_TRUE(!r.text || r.text->endsWith(CR)) << name << " " << round;
        }
    }
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST(WordReaderBadInput, LoopInTheDirectoryChainIsRefused) {
    QByteArray bytes = fixture("tabelle.doc");
    const quint32 dir = get32(bytes, 0x30);
    put32(bytes, fatEntryOffset(bytes, dir), dir);
    EXPECT_FALSE(readWordDocument(bytes).text.has_value());
}

TEST(WordReaderBadInput, HugeCharacterCountReadsWhatThePiecesHold) {
    QByteArray bytes = fixture("tabelle.doc");
    put32(bytes, wordStreamOffset(bytes) + 0x4C, 0x7FFFFFFF); // the main text's length
    const auto r = readWordDocument(bytes);
    ASSERT_TRUE(r.text.has_value());
    EXPECT_TRUE(r.text->startsWith(QStringLiteral("Vor der Tabelle.") + CR));
}

// --- built documents ---------------------------------------------------------
// A compound file with a "WordDocument" and a "1Table" stream and a piece
// table of the given pieces: reaches what LibreOffice never writes (pieces
// out of order, 8-bit pieces, field and break characters, damaged tables).

struct Piece {
    QString text;
    bool compressed = false; // 8-bit Windows-1252 instead of UTF-16
};

struct WordDocument {
    std::vector<Piece> pieces;
    std::vector<int> storageOrder = {}; // where the pieces' bytes lie; empty: in order
    qint64 ccpText = -1;           // main text length; -1: all pieces
    int pieceRepeats = 1;          // the piece table's entries repeated

    QByteArray build() const;
};

constexpr quint32 kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;

void put16(QByteArray &b, qsizetype at, quint16 v) { qToLittleEndian(v, b.data() + at); }
QByteArray le32(quint32 v) {
    const quint32 le = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&le), 4);
}
QByteArray padded(QByteArray b) {
    b.resize(std::max<qsizetype>((b.size() + 511) / 512 * 512, 4096), '\0');
    return b;
}

QByteArray WordDocument::build() const {
    QByteArray word(0x800, '\0');
    std::vector<quint32> offsets(pieces.size());
    std::vector<int> order = storageOrder;
    for (int i = 0; order.size() < pieces.size(); ++i)
        order.push_back(i);
    for (int i : order) {
        const Piece &p = pieces[std::size_t(i)];
        offsets[std::size_t(i)] = quint32(word.size());
        word += p.compressed ? codepage::toAnsi(p.text)
                             : QByteArray(reinterpret_cast<const char *>(p.text.utf16()), p.text.size() * 2);
    }
    QByteArray cps = le32(0), pcds;
    quint32 cp = 0;
    for (int r = 0; r < pieceRepeats; ++r) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            cps += le32(cp += quint32(pieces[i].text.size()));
            const quint32 fc = pieces[i].compressed ? (offsets[i] * 2) | 0x40000000u : offsets[i];
            pcds += QByteArray(2, '\0') + le32(fc) + QByteArray(2, '\0');
        }
    }
    QByteArray table = char(0x02) + le32(quint32(cps.size() + pcds.size())) + cps + pcds;
    // The information block: Word 97, the table stream is "1Table".
    for (auto [at, v] : {std::pair{0x00, 0xA5EC}, {0x02, 0xC1}, {0x0A, 0x0200}, {0x20, 14}, {0x3E, 22}, {0x98, 93}})
        put16(word, at, quint16(v));
    put32(word, 0x4C, quint32(ccpText >= 0 ? ccpText : qint64(cp)));
    put32(word, 0x9A + 8 * 33 + 4, quint32(table.size())); // the piece table at 0
    word = padded(word);
    table = padded(table);

    // The allocation table's sectors, the directory, the two streams.
    const quint32 wordSectors = quint32(word.size() / 512), tableSectors = quint32(table.size() / 512);
    quint32 fatSectors = 1;
    while (fatSectors * 128 < fatSectors + 1 + wordSectors + tableSectors)
        ++fatSectors;
    const quint32 dirSector = fatSectors, wordStart = dirSector + 1, tableStart = wordStart + wordSectors;
    QByteArray header = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0');
    for (auto [at, v] : {std::pair{0x18, 0x3E}, {0x1A, 3}, {0x1C, 0xFFFE}, {0x1E, 9}, {0x20, 6}})
        put16(header, at, quint16(v));
    for (auto [at, v] : {std::pair{0x2C, fatSectors}, {0x30, dirSector}, {0x38, 4096u}, {0x3C, kEnd}, {0x44, kEnd}})
        put32(header, at, v);
    for (quint32 k = 0; k < 109; ++k)
        put32(header, 0x4C + 4 * k, k < fatSectors ? k : kFree);
    QByteArray fat(qsizetype(fatSectors) * 512, '\xFF');
    for (quint32 k = 0; k < fatSectors; ++k)
        put32(fat, 4 * k, 0xFFFFFFFD);
    put32(fat, 4 * dirSector, kEnd);
    for (quint32 s = wordStart; s < tableStart + tableSectors; ++s)
        put32(fat, 4 * s, s + 1 == tableStart || s + 1 == tableStart + tableSectors ? kEnd : s + 1);
    QByteArray dir(512, '\0');
    auto entry = [&](int i, const QString &name, int type, quint32 right, quint32 child, quint32 start, qsizetype size) {
        const qsizetype e = qsizetype(i) * 128;
        for (int k = 0; k < name.size(); ++k)
            put16(dir, e + 2 * k, name.at(k).unicode());
        put16(dir, e + 0x40, quint16(2 * (name.size() + 1)));
        dir[e + 0x42] = char(type);
        dir[e + 0x43] = 1; // black
        for (auto [at, v] : {std::pair{0x44, kFree}, {0x48, right}, {0x4C, child}, {0x74, start}, {0x78, quint32(size)}})
            put32(dir, e + at, v);
    };
    entry(0, QStringLiteral("Root Entry"), 5, kFree, 1, kEnd, 0);
    entry(1, QStringLiteral("WordDocument"), 2, 2, kFree, wordStart, word.size());
    entry(2, QStringLiteral("1Table"), 2, kFree, kFree, tableStart, table.size());
    return header + fat + dir + word + table;
}

QString u(const char *utf8) { return QString::fromUtf8(utf8); }

TEST(WordReaderBuilt, PiecesFieldsBreaksAndHyphens) {
    struct Case {
        WordDocument doc;
        QString want;
    };
    const Case cases[] = {
        // Pieces in any storage order, 8-bit pieces.
        {{{{u("Grüße für 5 € "), true}, {u("und „mehr“ Ω\r"), false}, {u("Zweiter\r"), true}}, {2, 0, 1}},
         u("Grüße für 5 € und „mehr“ Ω\rZweiter\r")},
        // Only the main text is read.
        {{{{u("Haupttext\r"), false}, {u("Fußnote\rKopfzeile\r\r"), false}}, {}, 10}, u("Haupttext\r")},
        // Fields give their result, nested or not.
        {{{{u("Vor \x13 HYPERLINK \"x\" \x14" "Ergebnis\x15 nach\r\x13 IF \x13 PAGE \x14" "1\x15 = 1 \x14ja\x15\r"
              "ohne\x13 TC Eintrag \x15 Ergebnis\rlose \x14Zeichen\x15\r")}}},
         u("Vor Ergebnis nach\rja\rohne Ergebnis\rlose Zeichen\r")},
        // Line, page and section breaks, no-break and soft hyphens, anchors,
        // footnote marks.
        {{{{u("Zeile\x0bumbruch\r\x0cNeue Seite\rText\x0cweiter\rA\x1e" "B Trenn\x1f" "bar\x01\x08\x05 Fuß\x02 und\x02\tTab\r")}}},
         u("Zeile\rumbruch\rNeue Seite\rText\rweiter\rA\u2011B Trennbar Fuß1 und2\tTab\r")},
        // An empty main text is one empty paragraph; a missing final
        // paragraph mark is added.
        {{{{u("\r")}}}, u("\r")},
        {{{{u("eins\rzwei")}}}, u("eins\rzwei\r")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(readWordDocument(c.doc.build()).text.value_or(QStringLiteral("<nothing>")), c.want);
}

// A damaged piece table that sends the reader over the same bytes again and
// again must not hold it for long.
TEST(WordReaderBuilt, EndlesslyRepeatedPiecesAreBounded) {
    const QByteArray bytes = WordDocument{{{QString(30000, QChar(0)), true}}, {}, -1, 60000}.build();
    QElapsedTimer timer;
    timer.start();
    const auto r = readWordDocument(bytes);
    EXPECT_LT(timer.elapsed(), 5000);
    ASSERT_TRUE(r.text.has_value());
    EXPECT_TRUE(r.text->endsWith(platform::documentTruncationNotice() + CR));
}

} // namespace
} // namespace lesemund::testing
