#pragma once
// The window list of an X11 desktop, read through its own xcb connection.
//
// Where the windows come from:
//  - When a window manager is running that keeps _NET_CLIENT_LIST_STACKING
//    on the root window (and proves it is alive through
//    _NET_SUPPORTING_WM_CHECK), that list, reversed so that the topmost
//    window comes first. These are the application windows themselves, not
//    the manager's frames around them.
//  - Otherwise the root window's children from QueryTree, reversed so that
//    the topmost comes first.
//
// What each window gives:
//  - handle: the X window id.
//  - title: _NET_WM_NAME (UTF-8) when it is set and not empty, else WM_NAME
//    (Latin-1 for STRING, UTF-8 for UTF8_STRING, Latin-1 for the plain part
//    of COMPOUND_TEXT). Bytes that are not valid UTF-8 are read as
//    Windows-1252 instead of failing; the title ends at the first NUL byte
//    and at 64 KB.
//  - visible: the window is mapped and viewable (its map state is
//    Viewable: mapped itself and every ancestor mapped).
//  - border: a window the desktop would decorate with a frame and caption:
//    an InputOutput window without override-redirect whose
//    _NET_WM_WINDOW_TYPE is normal, dialog, utility or toolbar (or absent,
//    which means normal or dialog), and whose _MOTIF_WM_HINTS do not switch
//    all decorations off. Dock, desktop, menu, tooltip, notification,
//    combo, drag-and-drop and splash windows, override-redirect windows
//    (menus and tooltips without a type) and InputOnly windows get no
//    border.
//  - processId: _NET_WM_PID, 0 when absent, and 0 as well when
//    WM_CLIENT_MACHINE names another host: the id would name a process of
//    that machine, never one of ours.
//  - The desktop window is the root window with an empty title, visible and
//    without a border, process id 0.
//
// Failures: the X errors of windows that vanish while they are read come
// back as values and leave that window's fields empty. No display, a
// connection that breaks or a server that does not answer within the reply
// timeout give an empty snapshot; a new connection is tried at most once
// per reconnect interval. Connecting runs on a short-lived helper thread so
// that a server that accepts but never answers cannot hold up the caller.
// Xlib is not involved, so its I/O error handler can never end the process;
// a write to a closed connection cannot raise SIGPIPE either.
#include "platform/windowlist.h"

#include <QByteArray>

#include <memory>

namespace lesemund::platform {

class XcbWindowList : public WindowList {
public:
    struct Settings {
        // The X display to read, as in $DISPLAY; empty means $DISPLAY.
        QByteArray display;
        // Least time between two connection attempts.
        int reconnectIntervalMs = 5000;
        // Longest wait for the server's answers within one snapshot.
        int replyTimeoutMs = 500;
        // Longest wait for a connection attempt inside one snapshot; an
        // attempt that takes longer goes on in the background and is picked
        // up by a later snapshot.
        int connectWaitMs = 250;
    };

    XcbWindowList();
    explicit XcbWindowList(Settings settings);
    ~XcbWindowList() override;
    XcbWindowList(const XcbWindowList &) = delete;
    XcbWindowList &operator=(const XcbWindowList &) = delete;

    WindowSnapshot snapshot() override;

    // How many connections were attempted so far.
    int connectionAttempts() const;
    bool isConnected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace lesemund::platform
