#pragma once
// Opens a web address in a new, visible window of the desktop's web
// browser. The browser runs as a process of its own; nothing of it comes
// back to the caller, and the window stays open after the call.
#include <QString>

namespace lesemund::platform {

class BrowserLauncher {
public:
    virtual ~BrowserLauncher() = default;
    // Returns without waiting for the page. False when no browser could be
    // started (the result is only a hint). An address that begins with "-"
    // is never handed to the browser.
    virtual bool openNewWindow(const QString &url) = 0;
};

} // namespace lesemund::platform
