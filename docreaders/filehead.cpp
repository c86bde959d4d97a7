#include "docreaders/filehead.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lesemund::docreaders {

bool isReadableRegularFile(const QString &path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0)
        return false; // missing, dangling link, link loop, no permission
    return S_ISREG(st.st_mode);
}

std::optional<FileHead> readFileHead(const QString &path, qint64 maxBytes) {
    if (!isReadableRegularFile(path))
        return std::nullopt;
    // O_NONBLOCK: should the name have been replaced by a pipe after the
    // check above, opening it must not wait for a writer.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    if (maxBytes < 0)
        maxBytes = 0;
    FileHead head;
    head.bytes.resize(qsizetype(std::min<qint64>(maxBytes, std::max<qint64>(st.st_size, 0) + 1)));
    qsizetype got = 0;
    while (got < head.bytes.size()) {
        const ssize_t r = ::read(fd, head.bytes.data() + got, size_t(head.bytes.size() - got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (r == 0)
            break;
        got += r;
    }
    if (got >= maxBytes) {
        char probe;
        ssize_t r;
        do {
            r = ::read(fd, &probe, 1);
        } while (r < 0 && errno == EINTR);
        head.more = r > 0;
    }
    ::close(fd);
    head.bytes.truncate(got);
    return head;
}

} // namespace lesemund::docreaders
