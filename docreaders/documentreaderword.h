#pragma once
// The reader of word-processor documents in the binary format of Word 97 to
// 2003 (".doc"): the compound file's "WordDocument" stream, its piece table
// and paragraph properties, read in the program itself.
//
// The text is the main document (headers, footers, footnote and comment
// texts are not part of it), each paragraph ended by a carriage return:
// - a line break (11) ends a paragraph too, and a page or column break
//   (12, 14) ends one that holds text;
// - table cells end with a paragraph mark, the end of a row adds nothing
//   (as in LibreOffice's text export);
// - fields give their result, not their instruction;
// - a footnote mark gives its number (1, 2, ...), an endnote mark its
//   lower-case Roman number;
// - a list paragraph carries its label in front (bullets, and numbers for
//   the decimal, Roman and letter formats);
// - a soft hyphen (31) is dropped, a no-break hyphen (30) becomes U+2011,
//   picture and object anchors are dropped.
// Not read: Word 6/95 files, encrypted files, and list labels that come
// from a paragraph style instead of the paragraph itself.
#include "docreaders/documentreadertext.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace lesemund::docreaders {

struct WordDocumentResult {
    std::optional<QString> text; // nothing when the reader cannot read it
    bool compoundFile = false;   // the data is a compound (OLE) file
    bool encrypted = false;      // a Word document protected by a password
    bool encryptedPackage = false; // an encrypted Office Open XML package (.docx, ...)
};

// True when `data` starts with the signature of a compound (OLE) file.
bool looksLikeCompoundFile(const char *data, qsizetype size);

WordDocumentResult readWordDocument(const QByteArray &data, qsizetype limit = kDocumentTextLimit);
WordDocumentResult readWordDocumentFile(const QString &path, qsizetype limit = kDocumentTextLimit);

} // namespace lesemund::docreaders
