#pragma once
// The reader of Office Open XML word-processor documents (".docx"): the
// main document part word/document.xml of the zip container, with the list
// definitions of word/numbering.xml.
//
// The text is the main document, as LibreOffice's text export writes it
// (headers, footers, footnote and comment texts, text boxes and drawings
// are not part of it), each paragraph ended by a carriage return:
// - table cells end with their paragraphs' marks, the end of a row adds
//   nothing;
// - a line break ends a paragraph too, a page or column break ends one that
//   holds text;
// - fields give their result, not their instruction; deleted text of
//   tracked changes is left out;
// - a footnote mark gives its number (1, 2, ...), an endnote mark its
//   lower-case Roman number, a mark of its own is given as written;
// - a list paragraph carries its label in front (bullets, and numbers in
//   the decimal, Roman and letter formats);
// - a soft hyphen is dropped, a no-break hyphen becomes U+2011.
// List labels that come from a paragraph style are not read.
#include "docreaders/documentreadertext.h"

#include <QString>

namespace lesemund::docreaders {

class ZipContainer;

// The text of the document in `zip` (which holds word/document.xml), or the
// message of unreadableDocumentText when it cannot be read (a damaged or
// oversized part).
QString readDocx(ZipContainer &zip, qsizetype limit = kDocumentTextLimit);

} // namespace lesemund::docreaders
