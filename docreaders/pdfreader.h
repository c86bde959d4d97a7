#pragma once
// The reader of PDF documents, through poppler: the text of every page in
// reading order, as poppler's pdftotext gives it (page headers, footers and
// footnotes included, as they stand on the page). Every line of the page is
// a paragraph; empty lines and page ends add nothing.
//
// A protected document (a password to open it) gives the message "Dieses
// Dokument ist geschützt.", one without any text on its pages (scanned
// pages) "Dieses Dokument enthält keinen Text.", one that poppler cannot
// open "Dieses Dokument ist beschädigt." (see unreadableDocumentText).
#include "docreaders/documentreadertext.h"

#include <QString>

namespace lesemund::docreaders {

// True when `data` starts like a PDF file ("%PDF-").
bool looksLikePdf(const char *data, qsizetype size);

QString readPdfFile(const QString &path, qsizetype limit = kDocumentTextLimit);

} // namespace lesemund::docreaders
