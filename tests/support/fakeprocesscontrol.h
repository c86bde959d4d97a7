#pragma once
// A process control that records its calls ("open 1 0 4321", "terminate 7 1",
// "close 7") and ends nothing; ids of 0 and below are refused with handle 0.
#include "platform/processcontrol.h"

#include <QStringList>

namespace lesemund::testing {

struct FakeProcessControl : platform::ProcessControl {
    QStringList calls;
    Handle openProcess(quint32 access, bool inherit, qint32 pid) override {
        calls << QStringLiteral("open %1 %2 %3").arg(access).arg(int(inherit)).arg(pid);
        return pid > 0 ? 7 : 0;
    }
    bool terminateProcess(Handle h, quint32 exitCode) override {
        calls << QStringLiteral("terminate %1 %2").arg(h).arg(exitCode);
        return h;
    }
    bool closeHandle(Handle h) override {
        calls << QStringLiteral("close %1").arg(h);
        return h;
    }
};

} // namespace lesemund::testing
