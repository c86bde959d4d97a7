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
    bool terminateProcess(Handle h, quint32 c) override { return note(QString("terminate %1 %2").arg(h).arg(c), h); }
    bool closeHandle(Handle h) override { return note(QString("close %1").arg(h), h); }
    bool note(const QString &call, Handle h) {
        calls << call;
        return h != 0;
    }
};

} // namespace lesemund::testing
