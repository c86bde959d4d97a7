#pragma once
// Test doubles for the speech page and the timers.
#include "platform/browsercontrol.h"
#include "platform/browserlauncher.h"
#include "platform/shellopener.h"
#include "support/manualtimer.h"

#include <QStringList>
#include <ostream>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os) {
    *os << '{';
    for (const QString &s : l)
        *os << '"' << s.toStdString() << "\" ";
    *os << '}';
}
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }

namespace lesemund::testing {

// Records every click; "loads" any page that exists.
class FakeBrowserControl : public platform::BrowserControl {
public:
    void navigate(const QString &path) override;
    bool clickButton(const QString &name) override;
    bool isLoaded() const override { return loaded; }

    QString navigatedTo;
    bool loaded = true;
    QStringList clicks;
    // Each click also records the speech files as they were at that moment.
    QString dataFolder;
    QList<QByteArray> textFileAtClick, windowFileAtClick;
};

// Records what the window asks the desktop to open.
class RecordingShellOpener : public platform::ShellOpener {
public:
    bool open(const QString &target) override {
        opened << target;
        return true;
    }
    QStringList opened;
};

class RecordingBrowserLauncher : public platform::BrowserLauncher {
public:
    bool openNewWindow(const QString &url) override {
        opened << url;
        return available;
    }
    QStringList opened;
    bool available = true;
};

} // namespace lesemund::testing
