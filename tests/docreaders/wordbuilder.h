#pragma once
// Builds small Word 97 documents byte by byte: a compound file with a
// "WordDocument" and a "1Table" stream, a piece table made of the pieces a
// test asks for, and optionally paragraph properties that mark table row
// ends. Lets the tests reach what LibreOffice never writes (pieces out of
// order, 8-bit pieces, field and break characters, damaged tables).
#include <QByteArray>
#include <QString>
#include <vector>

namespace lesemund::testing {

class WordBuilder {
public:
    struct Piece {
        QString text;
        bool compressed = false; // 8-bit Windows-1252 instead of UTF-16
    };

    // The pieces in document order; each is stored in the text stream in
    // the order given by `storageOrder` (indexes into `pieces`; empty means
    // the same order).
    std::vector<Piece> pieces;
    std::vector<int> storageOrder;
    // Main text length; -1: the length of all pieces.
    qint64 ccpText = -1;
    // Character positions (in the main text) of paragraph marks that end a
    // table row; they get the "row end" paragraph property.
    std::vector<qint64> rowEndMarks;
    // Repeats the piece table's entries this often (all pointing at the
    // same bytes), as a damaged file might.
    int pieceRepeats = 1;

    QByteArray build() const;
};

} // namespace lesemund::testing
