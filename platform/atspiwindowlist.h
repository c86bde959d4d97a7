#pragma once
// The window list of a desktop read through its accessibility bus (AT-SPI),
// for Wayland sessions, where the window system shows no program another
// program's windows. The same bus serves screen readers on X11 too.
//
// Where the windows come from: every application that has joined the
// accessibility bus (the registry's children) and each application's
// top-level accessibles (frames, dialogs, windows).
//
// What each window gives:
//  - handle: a number this list gives the window when it first sees it,
//    the same for as long as the window lives; the desktop is 1.
//  - title: the accessible's name.
//  - visible: the window is showing and not minimised.
//  - border: a frame, dialog, alert, file chooser or filler (windows the
//    desktop draws a title bar around; Qt shows a window made of a plain
//    widget as a filler); plain windows (menus, tooltips) have none.
//  - processId: the process behind the application's bus connection, as the
//    bus daemon knows it; 0 when it is not known.
// Order: the active window first, then the others by how recently they were
// active or appeared, the most recent first. Wayland knows no stacking
// order that another program may read; this is the order a user sees them
// come to the front.
//
// Never waits on another program. The bus is read on a worker thread of the
// list's own, with every call asynchronous and answered within the call
// timeout; snapshot() only copies the picture the worker keeps. The picture
// follows the bus's events (a window activated or deactivated, a name
// changed, windows created and destroyed, applications gone) and is checked
// against the bus once per refresh interval. An application that does not
// answer within the timeout (stopped, hung) is left out until it answers a
// later check. When the bus goes away, the snapshot is empty and not
// available until a new bus is found.
//
// The desktop's accessibility: many toolkits only join the bus when the
// session's accessibility is switched on (org.a11y.Status.IsEnabled). The
// list switches it on while it runs and back off when it ends, when it was
// off. When the session has no accessibility bus at all, unreadableNotice()
// says so and what helps.
#include "platform/windowlist.h"

#include <QString>

#include <memory>

namespace lesemund::platform {

class AtspiWindowList : public WindowList {
public:
    struct Settings {
        // The session bus to find the accessibility bus on; empty: the
        // session's own (DBUS_SESSION_BUS_ADDRESS).
        QString sessionBus;
        // The accessibility bus itself; empty: AT_SPI_BUS_ADDRESS, else the
        // address the session bus's org.a11y.Bus gives.
        QString accessibilityBus;
        // Longest wait for one answer of another program.
        int callTimeoutMs = 1000;
        // How often the applications are asked for their windows.
        int refreshIntervalMs = 2000;
        // Least time between two attempts to find the bus.
        int reconnectIntervalMs = 3000;
        // Switch the session's accessibility on while the list runs.
        bool switchAccessibilityOn = true;
    };

    AtspiWindowList();
    explicit AtspiWindowList(Settings settings);
    ~AtspiWindowList() override;
    AtspiWindowList(const AtspiWindowList &) = delete;
    AtspiWindowList &operator=(const AtspiWindowList &) = delete;

    WindowSnapshot snapshot() override;
    QString unreadableNotice() const override;

    bool isConnected() const;
    // How many times the bus was found and joined so far.
    int connections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The text said when a session has no accessibility bus.
QString noAccessibilityBusNotice();

} // namespace lesemund::platform
