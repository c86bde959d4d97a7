#include "wordbuilder.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstdint>

namespace lesemund::testing {
namespace {

void put16(QByteArray &b, qsizetype at, std::uint16_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void put32(QByteArray &b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
void append32(QByteArray &b, std::uint32_t v) {
    const qsizetype at = b.size();
    b.resize(at + 4);
    put32(b, at, v);
}
QByteArray padded(QByteArray b) {
    qsizetype size = std::max<qsizetype>(b.size(), 4096);
    size = (size + 511) / 512 * 512;
    b.resize(size, '\0');
    return b;
}

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;

void directoryEntry(QByteArray &dir, int index, const QString &name, int type, std::uint32_t left,
                    std::uint32_t right, std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    const qsizetype e = qsizetype(index) * 128;
    for (int i = 0; i < name.size(); ++i)
        put16(dir, e + 2 * i, name.at(i).unicode());
    put16(dir, e + 0x40, std::uint16_t(2 * (name.size() + 1)));
    dir[e + 0x42] = char(type);
    dir[e + 0x43] = 1; // black
    put32(dir, e + 0x44, left);
    put32(dir, e + 0x48, right);
    put32(dir, e + 0x4C, child);
    put32(dir, e + 0x74, start);
    put32(dir, e + 0x78, size);
}

} // namespace

QByteArray WordBuilder::build() const {
    // The text stream: the information block, then the pieces' bytes.
    QByteArray word(0x800, '\0');
    std::vector<qsizetype> offsets(pieces.size(), 0);
    std::vector<int> order = storageOrder;
    if (order.empty())
        for (int i = 0; i < int(pieces.size()); ++i)
            order.push_back(i);
    for (int index : order) {
        const Piece &p = pieces[std::size_t(index)];
        offsets[std::size_t(index)] = word.size();
        if (p.compressed) {
            word += codepage::toAnsi(p.text);
        } else {
            for (QChar c : p.text) {
                word.append(char(c.unicode() & 0xFF));
                word.append(char(c.unicode() >> 8));
            }
        }
    }
    // Character position -> byte offset of the character in the stream.
    auto fcOf = [&](qint64 cp) -> std::uint32_t {
        qint64 start = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const qint64 len = pieces[i].text.size();
            if (cp < start + len)
                return std::uint32_t(offsets[i] + (cp - start) * (pieces[i].compressed ? 1 : 2));
            start += len;
        }
        return 0;
    };
    auto widthOf = [&](qint64 cp) -> std::uint32_t {
        qint64 start = 0;
        for (const Piece &p : pieces) {
            if (cp < start + p.text.size())
                return p.compressed ? 1 : 2;
            start += p.text.size();
        }
        return 2;
    };

    // Paragraph properties: one page with a run per row end mark.
    QByteArray papxPlc;
    if (!rowEndMarks.empty()) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> marks;
        for (qint64 cp : rowEndMarks)
            marks.emplace_back(fcOf(cp), fcOf(cp) + widthOf(cp));
        std::sort(marks.begin(), marks.end());
        std::vector<std::uint32_t> bounds;
        std::vector<bool> isMark;
        for (std::size_t k = 0; k < marks.size(); ++k) {
            if (!bounds.empty() && bounds.back() < marks[k].first) {
                isMark.push_back(false); // a run without properties between marks
                bounds.push_back(marks[k].first);
            } else if (bounds.empty()) {
                bounds.push_back(marks[k].first);
            }
            isMark.push_back(true);
            bounds.push_back(marks[k].second);
        }
        const int crun = int(isMark.size());
        word = padded(word);
        const qsizetype pageAt = word.size();
        QByteArray fkp(512, '\0');
        for (int i = 0; i <= crun; ++i)
            put32(fkp, 4 * i, bounds[std::size_t(i)]);
        // The properties: size 3 (5 bytes), style 0, sprmPFTtp = 1.
        const int papxAt = 400;
        fkp[papxAt] = 3;
        put16(fkp, papxAt + 3, 0x2417);
        fkp[papxAt + 5] = 1;
        for (int i = 0; i < crun; ++i)
            fkp[4 * (crun + 1) + 13 * i] = char(isMark[std::size_t(i)] ? papxAt / 2 : 0);
        fkp[511] = char(crun);
        word += fkp;
        append32(papxPlc, bounds.front());
        append32(papxPlc, bounds.back());
        append32(papxPlc, std::uint32_t(pageAt / 512));
    }

    // The table stream: the piece table, then the property index.
    QByteArray pieceTable;
    std::uint32_t cp = 0;
    std::vector<std::uint32_t> cps{0};
    QByteArray pcds;
    for (int r = 0; r < pieceRepeats; ++r) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            cp += std::uint32_t(pieces[i].text.size());
            cps.push_back(cp);
            QByteArray pcd(8, '\0');
            const std::uint32_t fc = pieces[i].compressed ? (std::uint32_t(offsets[i]) * 2) | 0x40000000u
                                                          : std::uint32_t(offsets[i]);
            put32(pcd, 2, fc);
            pcds += pcd;
        }
    }
    for (std::uint32_t v : cps)
        append32(pieceTable, v);
    pieceTable += pcds;
    QByteArray table;
    table.append(char(0x02));
    append32(table, std::uint32_t(pieceTable.size()));
    table += pieceTable;
    const qsizetype papxAt = table.size();
    table += papxPlc;

    // The information block.
    put16(word, 0x00, 0xA5EC);
    put16(word, 0x02, 0x00C1);
    put16(word, 0x0A, 0x0200); // the table stream is "1Table"
    put16(word, 0x20, 14);
    put16(word, 0x3E, 22);
    put32(word, 0x4C, std::uint32_t(ccpText >= 0 ? ccpText : qint64(cp)));
    put16(word, 0x98, 93);
    auto fcLcb = [&](int index, std::uint32_t fc, std::uint32_t lcb) {
        put32(word, 0x9A + 8 * index, fc);
        put32(word, 0x9A + 8 * index + 4, lcb);
    };
    fcLcb(33, 0, std::uint32_t(table.size() - papxPlc.size()));
    if (!papxPlc.isEmpty())
        fcLcb(13, std::uint32_t(papxAt), std::uint32_t(papxPlc.size()));

    word = padded(word);
    table = padded(table);

    // The compound file: the allocation table's sectors first, then the
    // directory, then the two streams.
    const std::uint32_t wordSectors = std::uint32_t(word.size() / 512);
    const std::uint32_t tableSectors = std::uint32_t(table.size() / 512);
    std::uint32_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + 1 + wordSectors + tableSectors)
        ++fatSectors;
    const std::uint32_t dirSector = fatSectors;
    const std::uint32_t wordStart = dirSector + 1;
    const std::uint32_t tableStart = wordStart + wordSectors;
    QByteArray header(512, '\0');
    const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i)
        header[i] = char(signature[i]);
    put16(header, 0x18, 0x3E);
    put16(header, 0x1A, 3);
    put16(header, 0x1C, 0xFFFE);
    put16(header, 0x1E, 9);
    put16(header, 0x20, 6);
    put32(header, 0x2C, fatSectors);
    put32(header, 0x30, dirSector);
    put32(header, 0x38, 4096);
    put32(header, 0x3C, kEnd);
    put32(header, 0x44, kEnd);
    for (std::uint32_t k = 0; k < 109; ++k)
        put32(header, 0x4C + 4 * k, k < fatSectors ? k : kFree);

    QByteArray fat(qsizetype(fatSectors) * 512, '\0');
    for (std::uint32_t k = 0; k < fatSectors * 128; ++k)
        put32(fat, 4 * k, kFree);
    for (std::uint32_t k = 0; k < fatSectors; ++k)
        put32(fat, 4 * k, 0xFFFFFFFD);
    put32(fat, 4 * dirSector, kEnd);
    for (std::uint32_t s = 0; s < wordSectors; ++s)
        put32(fat, 4 * (wordStart + s), s + 1 < wordSectors ? wordStart + s + 1 : kEnd);
    for (std::uint32_t s = 0; s < tableSectors; ++s)
        put32(fat, 4 * (tableStart + s), s + 1 < tableSectors ? tableStart + s + 1 : kEnd);

    QByteArray dir(512, '\0');
    directoryEntry(dir, 0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1, kEnd, 0);
    directoryEntry(dir, 1, QStringLiteral("WordDocument"), 2, kFree, 2, kFree, wordStart, std::uint32_t(word.size()));
    directoryEntry(dir, 2, QStringLiteral("1Table"), 2, kFree, kFree, kFree, tableStart, std::uint32_t(table.size()));
    for (int i = 3; i < 4; ++i) {
        put32(dir, 128 * i + 0x44, kFree);
        put32(dir, 128 * i + 0x48, kFree);
        put32(dir, 128 * i + 0x4C, kFree);
    }
    return header + fat + dir + word + table;
}

} // namespace lesemund::testing
