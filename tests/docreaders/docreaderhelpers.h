#pragma once
// Helpers of the document reader tests: fixture paths, the paragraphs of a
// reader's text and of LibreOffice's text export, comparing them.
#include "platform/documentreader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace lesemund::testing {

// tests/fixtures/documents/<name> of the source tree.
QString fixturePath(const QString &name);
QByteArray readFixture(const QString &name);
QByteArray readBytes(const QString &path);
bool writeBytes(const QString &path, const QByteArray &bytes);

// A reader with only the readers of the program itself (no catdoc, no
// LibreOffice): what it reads, the fast readers read.
platform::DocumentReader fastReadersOnly();

// The paragraphs of a document text: it must end with a paragraph mark
// (checked); split at each carriage return.
QStringList paragraphsOfDocumentText(const QString &text);
// The paragraphs of LibreOffice's UTF-8 text export: byte order mark
// dropped; CR LF, LF and CR end a line; no empty line after the last end.
QStringList paragraphsOfTextExport(const QByteArray &bytes);

// Compares paragraph by paragraph and reports each difference with its
// number.
void expectSameParagraphs(const QStringList &got, const QStringList &want, const char *what);

// Little-endian numbers in a byte array.
quint32 get32(const QByteArray &b, qsizetype at);
void put32(QByteArray &b, qsizetype at, quint32 v);

// Just enough of the compound file layout to damage a Word fixture on
// purpose (512-byte sectors, allocation table sectors named in the header).
struct Layout {
    const QByteArray &bytes;
    qsizetype sectorOffset(quint32 s) const { return (qsizetype(s) + 1) * 512; }
    qsizetype fatEntry(quint32 s) const;
    quint32 firstDirectorySector() const { return get32(bytes, 0x30); }
    // The start sector of a stream named in the directory's first two
    // sectors.
    quint32 streamStart(const char *name) const;
    // Where the Word text stream begins in the file (its first sector).
    qsizetype wordStreamOffset() const { return sectorOffset(streamStart("WordDocument")); }
};

} // namespace lesemund::testing
