#pragma once
// The reader of OpenDocument text documents (".odt"): the body of
// content.xml in the zip container, with the list styles of content.xml and
// styles.xml.
//
// The text is the document's body, as LibreOffice's text export writes it
// (headers, footers, footnote texts, comments, frames and drawings are not
// part of it), each paragraph and heading ended by a carriage return:
// - table cells end with their paragraphs' marks, the end of a row adds
//   nothing;
// - a line break ends a paragraph too;
// - blanks follow the format's rules (runs of white space in the XML are
//   one blank, text:s gives its count of blanks), a soft hyphen is dropped;
// - a footnote or endnote mark gives its citation (1, 2, i, ...);
// - a list paragraph carries its label in front: bullets by level, numbers
//   in the list style's format with its prefix, suffix and shown levels.
// An encrypted document (password) is not read: its text is the message
// "Dieses Dokument ist geschützt." (see unreadableDocumentText).
#include "docreaders/documentreadertext.h"

#include <QString>

namespace lesemund::docreaders {

class ZipContainer;

// True when `zip` holds an OpenDocument text: its "mimetype" part says so
// and it has a content.xml.
bool isOdtContainer(ZipContainer &zip);

// The text of the document in `zip`, or the message of
// unreadableDocumentText when it cannot be read.
QString readOdt(ZipContainer &zip, qsizetype limit = kDocumentTextLimit);

} // namespace lesemund::docreaders
