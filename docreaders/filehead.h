#pragma once
// Reading files whose names come from outside (the address field, the file
// list, the speech page): only regular files are read, a pipe or device
// can never block the caller, and no more than asked is read into memory.
#include <QByteArray>
#include <QString>
#include <optional>

namespace lesemund::docreaders {

// The first `maxBytes` bytes of a regular file, read into memory (not
// mapped: a document saved while it is read must not bring the program
// down). `more` tells that the file goes on beyond them. Nothing when `path`
// is no readable regular file.
struct FileHead {
    QByteArray bytes;
    bool more = false;
};
std::optional<FileHead> readFileHead(const QString &path, qint64 maxBytes);

// True when `path` names a regular file (symbolic links followed) that can be
// opened for reading; false for folders, devices, pipes, sockets, dangling
// links and link loops.
bool isReadableRegularFile(const QString &path);

} // namespace lesemund::docreaders
