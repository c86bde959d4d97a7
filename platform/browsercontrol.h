#pragma once
// The embedded browser control `WebBrowser1` as the main window uses it:
// navigate to the local speech page and click a named button of its first
// form. Clicking is the only call; nothing comes back to the caller.
#include <QString>

namespace lesemund::platform {

class BrowserControl {
public:
    virtual ~BrowserControl() = default;

    // Starts loading the page at `path`. Never waits for the page; a page
    // that cannot be read leaves the control without a page.
    virtual void navigate(const QString &path) = 0;

    // Clicks the button `name` of the loaded page's first form. A name the
    // form lacks, a page that is not loaded or no page at all: nothing
    // happens and nothing is reported (the result only serves tests).
    virtual bool clickButton(const QString &name) = 0;

    virtual bool isLoaded() const = 0;
};

} // namespace lesemund::platform
