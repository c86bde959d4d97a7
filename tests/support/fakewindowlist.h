#pragma once
// A window list whose desktop a test writes by hand.
#include "platform/windowlist.h"

namespace lesemund::testing {

struct FakeWindowList : platform::WindowList {
    // What snapshots return: a desktop of handle 1, then the windows from the top.
    platform::WindowSnapshot desktop{true, {1, {}, true, false, 0}, {}};
    int snapshots = 0;
    platform::WindowSnapshot snapshot() override {
        ++snapshots;
        return desktop;
    }
    // Adds a window below the others.
    void add(qint64 handle, const QString &title, qint32 pid = 0, bool visible = true, bool border = true) {
        desktop.windows.push_back({handle, title, visible, border, pid});
    }
};

} // namespace lesemund::testing
