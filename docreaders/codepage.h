#pragma once
// Conversion between the program's Unicode text and the 8-bit Windows-1252
// text that every speech file, settings file and most network bodies use.
#include <QByteArray>
#include <QString>

namespace lesemund::codepage {

// Unicode -> Windows-1252. A character the code page cannot hold becomes '?'.
QByteArray toAnsi(const QString &text);

// Windows-1252 -> Unicode. Every byte maps to one character; the five bytes
// the code page leaves undefined map to the control character of the same
// value, as the Windows conversion does.
QString fromAnsi(const QByteArray &bytes);
QString fromAnsi(const char *data, qsizetype size);

// True when the bytes form valid UTF-8 (an empty buffer is valid).
bool isValidUtf8(const QByteArray &bytes);

// Decodes valid UTF-8 as UTF-8 and anything else as Windows-1252.
QString fromUtf8OrAnsi(const QByteArray &bytes);

} // namespace lesemund::codepage
