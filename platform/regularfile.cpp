#include "platform/regularfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lesemund::platform {

bool writeRegularFile(const QString &path, const QByteArray &bytes) {
    if (path.isEmpty())
        return false;
    // O_NONBLOCK: a pipe without a reader fails at once instead of waiting;
    // the type is checked on the open descriptor before anything is cut.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) == 0;
    qsizetype done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        ok = w > 0;
        if (ok)
            done += w;
    }
    return ::close(fd) == 0 && ok;
}

} // namespace lesemund::platform
