#pragma once
// A window list whose desktop a test writes by hand.
#include "platform/windowlist.h"

namespace lesemund::testing {

struct FakeWindowList : platform::WindowList {
    // What snapshots return: a desktop of handle 1, then the windows from the top.
    platform::WindowSnapshot desktop{true, {1, {}, true, false, 0}, {}};
    platform::WindowSnapshot snapshot() override { return desktop; }
    QString notice;
    QString unreadableNotice() const override { return notice; }
    // Adds a visible, framed window below the others.
    void add(qint64 handle, const QString &title, qint32 pid = 0) {
        desktop.windows.push_back({handle, title, true, true, pid});
    }
};

} // namespace lesemund::testing
