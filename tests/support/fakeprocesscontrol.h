#pragma once
// A process control that records the calls made and ends nothing.
#include "platform/processcontrol.h"

#include <QString>
#include <QStringList>

namespace lesemund::testing {

class FakeProcessControl : public platform::ProcessControl {
public:
    // Every call as text: "open 1 0 4321", "terminate 7 1", "close 7".
    QStringList calls;
    // The handle openProcess gives for an id above 0; ids of 0 and below
    // are refused like the real thing does.
    Handle nextHandle = 7;

    Handle openProcess(quint32 desiredAccess, bool inheritHandle, qint32 processId) override {
        calls << QStringLiteral("open %1 %2 %3").arg(desiredAccess).arg(inheritHandle ? 1 : 0).arg(processId);
        return processId > 0 ? nextHandle : 0;
    }
    bool terminateProcess(Handle handle, quint32 exitCode) override {
        calls << QStringLiteral("terminate %1 %2").arg(handle).arg(exitCode);
        return handle != 0;
    }
    bool closeHandle(Handle handle) override {
        calls << QStringLiteral("close %1").arg(handle);
        return handle != 0;
    }
};

} // namespace lesemund::testing
