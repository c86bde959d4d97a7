#pragma once
// The desktop's web browser on Linux, started with an argument vector
// (never through a shell).
//
// Which browser: the program given to the constructor, or else the first
// of these found in PATH:
//   x-www-browser     the system's chosen browser (Debian alternatives),
//   sensible-browser  the user's $BROWSER or the system's choice,
//   xdg-open          the desktop's handler of web addresses.
// How a new window is asked for: Firefox- and Chromium-like browsers (the
// program's name, or the name its links lead to, tells) get
// "--new-window <url>", which opens a new visible window even when the
// browser runs already. Every other program gets the address alone; what it
// opens (a window or a tab) is then the browser's choice.
#include "platform/browserlauncher.h"

#include <QStringList>

namespace lesemund::platform {

class XdgBrowserLauncher : public BrowserLauncher {
public:
    struct Command {
        QString program;
        QStringList arguments;
    };

    // An empty `program` means the desktop's browser, looked up at each call.
    explicit XdgBrowserLauncher(QString program = QString());

    bool openNewWindow(const QString &url) override;

    // The program and arguments openNewWindow(url) starts; an empty program
    // when no browser is found.
    Command commandFor(const QString &url) const;

    // x-www-browser, sensible-browser or xdg-open, the first in PATH, as a
    // full path; empty if none is there.
    static QString desktopBrowser();

    // True when `program` (a name in PATH or a path) is a browser known to
    // take "--new-window".
    static bool takesNewWindowOption(const QString &program);

private:
    QString program_;
};

} // namespace lesemund::platform
