#pragma once
// The desktop's top-level windows as the task window lists them: the
// desktop window itself and every top-level window in Z order from the top,
// each with its handle, title, two style bits and owning process.
#include <QString>
#include <QtGlobal>

#include <vector>

namespace lesemund::platform {

struct WindowInfo {
    // The window's handle. Shown to the user as signed decimal text.
    qint64 handle = 0;
    // The window's title; empty when it has none or could not be read.
    QString title;
    // The window is shown on screen (mapped and viewable).
    bool visible = false;
    // The window has a frame of the kind the desktop draws around ordinary
    // and dialog windows.
    bool border = false;
    // The process that created the window, 0 when it is not known. A 32-bit
    // signed value, as the task window's "Task beenden" reads it back.
    qint32 processId = 0;
};

struct WindowSnapshot {
    // False when there is no window system to ask (no display, or the
    // connection is lost). Then `desktop` is empty and `windows` too.
    bool available = false;
    // The desktop (root) window, with an empty title.
    WindowInfo desktop;
    // The top-level windows, topmost first.
    std::vector<WindowInfo> windows;
};

class WindowList {
public:
    virtual ~WindowList() = default;
    // One look at the desktop. Never blocks for long and never throws: a
    // window that vanishes while it is being looked at comes back with
    // whatever could still be read (empty title, process id 0, both bits
    // off).
    virtual WindowSnapshot snapshot() = 0;
    // What to tell the user, once, when this desktop's windows cannot be
    // read at all, with what would help; empty while they can be read or
    // while that is not known yet.
    virtual QString unreadableNotice() const { return {}; }
};

} // namespace lesemund::platform
