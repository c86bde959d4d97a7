#pragma once
// Helpers of the document reader tests: fixture files, document texts as
// lines to compare with LibreOffice's text export, and just enough of the
// compound file layout to damage a Word fixture on purpose.
#include "platform/documentreader.h"
#include "support/doubles.h" // readable Qt strings in failure messages

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <tuple>

namespace lesemund::testing {

inline const QChar CR(13);

// tests/fixtures/documents/<name> of the source tree.
QString fixturePath(const QString &name);
QByteArray readBytes(const QString &path);
inline QByteArray readFixture(const QString &name) { return readBytes(fixturePath(name)); }
bool writeBytes(const QString &path, const QByteArray &bytes);

// A reader with only the readers of the program itself (no catdoc, no
// LibreOffice).
platform::DocumentReader fastReadersOnly();

// The bytes and time stamp of a document and the names in its folder.
std::tuple<QByteArray, QDateTime, QStringList> snapshot(const QString &path);

// A document text made of these UTF-8 paragraphs, each ended by a CR.
QString paragraphs(std::initializer_list<const char *> parts);
// A document text (which must end with a paragraph mark) as UTF-8 lines,
// so that a failed comparison shows a line by line difference.
std::string lines(const QString &text);
// The same lines from LibreOffice's UTF-8 text export of `fixture`.
std::string exportLines(const QString &fixture);

// Little-endian numbers; compound file sectors of 512 bytes.
inline quint32 get32(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
inline void put32(QByteArray &b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }
// Where the allocation table entry of sector `s` lies in the file.
inline qsizetype fatEntryOffset(const QByteArray &file, quint32 s) {
    return (qsizetype(get32(file, 0x4C + 4 * (s / 128))) + 1) * 512 + 4 * (s % 128);
}
// Where the Word text stream (its information block) begins in the file.
qsizetype wordStreamOffset(const QByteArray &file);

} // namespace lesemund::testing
