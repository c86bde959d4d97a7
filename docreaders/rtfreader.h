#pragma once
// The rich-text (RTF) reader: the plain text of an RTF document, each
// paragraph ended by a carriage return.
//
// What it honours: the code page (\ansicpg, \mac, \pc, \pca and each font's
// \fcharset or \cpg for \'hh and raw 8-bit bytes, multi-byte code pages
// included), \uN with its \ucN replacement characters, \upr with \ud,
// \par, \line, \tab and the named characters (\emdash, \ldblquote, ...),
// \~ (no-break blank), \_ (no-break hyphen), \- (dropped), \binN (skipped).
// It skips the font, colour, style, list, revision and info tables, headers,
// footers, footnote and annotation texts, pictures, shapes, field
// instructions (field results are read), and every \* destination it does
// not know. Tables read the way LibreOffice's text export writes them: every
// cell's paragraphs end with a paragraph mark, a row adds nothing. A list
// paragraph carries its label (from \listtext or \pntext) in front.
//
// Junk never makes it fail in a bad way: binary data, a cut-off file or
// deep nesting give some text or an empty document, in time proportional to
// the size of the input.
#include "docreaders/documentreadertext.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace lesemund::docreaders {

// True when `data` starts like an RTF document: "{\rtf", possibly after
// blanks and line ends.
bool looksLikeRtf(const char *data, qsizetype size);

// The text of the RTF document in `data`; nothing when it is not RTF.
std::optional<QString> readRtf(const char *data, qsizetype size,
                               qsizetype limit = kDocumentTextLimit);
std::optional<QString> readRtf(const QByteArray &data, qsizetype limit = kDocumentTextLimit);

// The same for a file (mapped into memory, not copied); nothing when the
// file cannot be read or is not RTF.
std::optional<QString> readRtfFile(const QString &path, qsizetype limit = kDocumentTextLimit);

} // namespace lesemund::docreaders
