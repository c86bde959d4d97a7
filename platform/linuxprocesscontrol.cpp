#include "platform/linuxprocesscontrol.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lesemund::platform {
namespace {

// Debian 12's C library has no wrappers for these two calls; the kernel
// has had them since 5.3.
int pidfdOpen(pid_t pid, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags));
}

int pidfdSendSignal(int pidfd, int sig) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0u));
}

} // namespace

LinuxProcessControl::~LinuxProcessControl() {
    for (auto &[handle, entry] : open_)
        ::close(entry.fd);
}

ProcessControl::Handle LinuxProcessControl::openProcess(quint32 desiredAccess, bool inheritHandle,
                                                        qint32 processId) {
    lastError_ = 0;
    if (processId <= 0)
        return 0;
    const int fd = pidfdOpen(static_cast<pid_t>(processId), 0);
    if (fd < 0) {
        lastError_ = errno;
        return 0;
    }
    // A process descriptor is created with close-on-exec set.
    if (inheritHandle) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
    }
    const Handle handle = next_++;
    open_[handle] = Entry{fd, desiredAccess};
    return handle;
}

bool LinuxProcessControl::terminateProcess(Handle handle, quint32 exitCode) {
    Q_UNUSED(exitCode);
    lastError_ = 0;
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        lastError_ = EBADF;
        return false;
    }
    if (!(it->second.access & TerminateRight)) {
        lastError_ = EACCES;
        return false;
    }
    if (pidfdSendSignal(it->second.fd, SIGKILL) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool LinuxProcessControl::closeHandle(Handle handle) {
    lastError_ = 0;
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        lastError_ = EBADF;
        return false;
    }
    ::close(it->second.fd);
    open_.erase(it);
    return true;
}

} // namespace lesemund::platform
