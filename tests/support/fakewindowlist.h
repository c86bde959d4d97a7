#pragma once
// A window list whose desktop a test writes by hand.
#include "platform/windowlist.h"

#include <functional>

namespace lesemund::testing {

class FakeWindowList : public platform::WindowList {
public:
    // What the next snapshots return; `available` starts true with a
    // desktop of handle 1 and no windows.
    platform::WindowSnapshot desktop;
    int snapshots = 0;
    // Runs at the start of every snapshot, before `desktop` is copied.
    std::function<void()> beforeSnapshot;

    FakeWindowList() {
        desktop.available = true;
        desktop.desktop.handle = 1;
        desktop.desktop.visible = true;
    }

    platform::WindowSnapshot snapshot() override {
        ++snapshots;
        if (beforeSnapshot)
            beforeSnapshot();
        return desktop;
    }

    // Adds a window below the ones there are; visible and framed unless told.
    void add(qint64 handle, const QString &title, qint32 pid = 0, bool visible = true, bool border = true) {
        desktop.windows.push_back(platform::WindowInfo{handle, title, visible, border, pid});
    }
    // Moves the window with `handle` to the top.
    void raise(qint64 handle) {
        auto &w = desktop.windows;
        for (auto it = w.begin(); it != w.end(); ++it) {
            if (it->handle == handle) {
                const platform::WindowInfo info = *it;
                w.erase(it);
                w.insert(w.begin(), info);
                return;
            }
        }
    }
};

} // namespace lesemund::testing
