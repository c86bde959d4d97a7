#pragma once
// Writing files whose names come from outside (the speech files beside the
// speech page): a name that stands for a pipe or device never blocks the
// caller. Reading such files: docreaders/filehead.h.
#include <QByteArray>
#include <QString>

namespace lesemund::platform {

// Replaces the content of the file `path` with `bytes`, creating it when it
// is missing. A name that stands for anything but a regular file (a pipe,
// a device, a folder) is left alone at once, never waited for. False when
// nothing or not everything was written.
bool writeRegularFile(const QString &path, const QByteArray &bytes);

} // namespace lesemund::platform
