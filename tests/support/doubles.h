#pragma once
// Readable Qt strings in failure messages; doubles for the speech page and
// the desktop's programs.
#include "platform/browsercontrol.h"
#include "platform/browserlauncher.h"
#include "platform/shellopener.h"
#include "support/manualtimer.h"

#include <QFileInfo>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }

namespace lesemund::testing {

// Records the clicks on a page that exists, the only kind the real control loads.
struct FakeBrowserControl : platform::BrowserControl {
    void navigate(const QString &path) override { loaded = QFileInfo::exists(path); }
    bool clickButton(const QString &name) override { if (loaded) clicks << name; return loaded; }
    bool isLoaded() const override { return loaded; }
    bool loaded = false;
    QStringList clicks;
};

struct RecordingShellOpener : platform::ShellOpener {
    bool open(const QString &target) override { opened << target; return true; }
    QStringList opened;
};

struct RecordingBrowserLauncher : platform::BrowserLauncher {
    bool openNewWindow(const QString &url) override { opened << url; return available; }
    QStringList opened;
    bool available = true;
};

} // namespace lesemund::testing
