#pragma once
// Ending another program's process: open it by its id, terminate it, close
// the handle, in the shape of the desktop calls the task window was
// designed around.
#include <QtGlobal>

namespace lesemund::platform {

class ProcessControl {
public:
    // An opaque handle; 0 is never a valid handle and stands for "failed".
    using Handle = qint64;

    // The access right that allows terminateProcess.
    static constexpr quint32 TerminateRight = 1;

    virtual ~ProcessControl() = default;

    // Opens the process `processId` with the access rights `desiredAccess`.
    // Returns 0 when the process cannot be opened; an id of 0 or below is
    // always refused, without asking the system.
    virtual Handle openProcess(quint32 desiredAccess, bool inheritHandle, qint32 processId) = 0;

    // Ends the process behind `handle` at once, without asking it. Fails
    // (returns false) for handle 0, an unknown or closed handle, a handle
    // opened without TerminateRight, or a process the user may not end.
    virtual bool terminateProcess(Handle handle, quint32 exitCode) = 0;

    // Releases `handle`; false when it is 0, unknown or closed already.
    virtual bool closeHandle(Handle handle) = 0;
};

} // namespace lesemund::platform
