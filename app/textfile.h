#pragma once
#include <QString>

namespace lesemund {

// The most text a reader puts into the scratch field: as many bytes as the
// document readers keep characters.
constexpr qint64 kMaxTextBytes = 5'000'000;

// Reads a regular file whole as Windows-1252 text. Anything else (a
// folder, a FIFO, a device, a missing file) reads as empty text, so that a
// strange path can neither block nor crash the window. A file longer than
// kMaxTextBytes is cut there, and the cut is said at the end of the text.
QString readAnsiTextFile(const QString &path);

} // namespace lesemund
