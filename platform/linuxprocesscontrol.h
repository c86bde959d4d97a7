#pragma once
// Ending processes on Linux through process file descriptors, so that an
// opened handle always names the process that was opened, even if its id
// is later reused by another one.
#include "platform/processcontrol.h"

#include <map>

namespace lesemund::platform {

class LinuxProcessControl : public ProcessControl {
public:
    LinuxProcessControl() = default;
    // Closes every handle still open.
    ~LinuxProcessControl() override;
    LinuxProcessControl(const LinuxProcessControl &) = delete;
    LinuxProcessControl &operator=(const LinuxProcessControl &) = delete;

    // pidfd_open on the id; an id of 0 or below is refused before any call
    // (a signal to 0 or -1 would reach our own process group or every
    // process). `inheritHandle` asks for a descriptor that survives exec.
    Handle openProcess(quint32 desiredAccess, bool inheritHandle, qint32 processId) override;

    // pidfd_send_signal with SIGKILL: an unconditional end. A signal cannot
    // carry an exit code, so `exitCode` is not passed on; the ended process
    // reports that it was killed by SIGKILL. A process of another user fails
    // with EPERM and is left alone.
    bool terminateProcess(Handle handle, quint32 exitCode) override;

    bool closeHandle(Handle handle) override;

    // The error number of the last failing call (0 after a success or a
    // refusal made before any system call).
    int lastError() const { return lastError_; }

private:
    struct Entry {
        int fd = -1;
        quint32 access = 0;
    };
    std::map<Handle, Entry> open_;
    Handle next_ = 1;
    int lastError_ = 0;
};

} // namespace lesemund::platform
