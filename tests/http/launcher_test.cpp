// The shell opener and the browser launcher start their program with an
// argument vector: a hostile address is one argument and runs nothing, an
// option-like one is refused. Recording scripts stand in for the programs.
#include "platform/xdgbrowserlauncher.h"
#include "platform/xdgshellopener.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using lesemund::platform::XdgBrowserLauncher;
using lesemund::platform::XdgShellOpener;

namespace {

// A script at `path` that writes its arguments, each ended by a zero byte, to "$0.rec".
QString recorder(const QString &path) {
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a; do printf '%s\\0' \"$a\"; done > \"$0.part\"; /bin/mv \"$0.part\" \"$0.rec\"\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// What the script started as `path` recorded, waiting up to five seconds for it.
QStringList recorded(const QString &path) {
    for (int i = 0; i < 250 && !QFile::exists(path + ".rec"); ++i)
        QThread::msleep(20);
    QFile f(path + ".rec");
    const QStringList args = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(QChar(0)) : QStringList{};
    f.remove();
    return args.mid(0, args.size() - 1);
}

TEST(Launchers, HostileAddressIsOneArgumentOptionLikeOnesAreRefusedTheDesktopBrowserIsFound) {
    QTemporaryDir dir;
    const QString d = dir.path() + "/";
    const QString hostile = "http://beispiel.invalid/a b;touch " + d + "1;$(touch " + d + "2)`touch " + d + "3`'\"&|<>*\n&& touch " + d + "4";
    // Firefox- and Chromium-like browsers, also behind a generic link, get a new window.
    for (const auto &[name, link, browser, newWindow] : {std::tuple{"xdg-open", "", false, false},
             {"firefox-esr", "", true, true}, {"chromium", "x-www-browser", true, true}, {"sensible-browser", "", true, false}}) {
        const QString started = *link ? d + link : recorder(d + name);
        ASSERT_TRUE(!*link || QFile::link(recorder(d + name), started));
        auto open = [&](const QString &a) { return browser ? XdgBrowserLauncher(started).openNewWindow(a) : XdgShellOpener(started).open(a); };
        EXPECT_TRUE(open(hostile)) << name;
        EXPECT_EQ(recorded(started), (newWindow ? QStringList{"--new-window", hostile} : QStringList{hostile})) << name;
        EXPECT_FALSE(open(QStringLiteral("--kiosk"))) << name;
    }

    // Without a program of its own: x-www-browser, sensible-browser, xdg-open, as found now.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()));
    for (const char *name : {"x-www-browser", "sensible-browser", "xdg-open"}) {
        const QString url = "http://beispiel.invalid/" + QString(name);
        EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), d + name);
        EXPECT_TRUE(XdgBrowserLauncher().openNewWindow(url));
        EXPECT_EQ(recorded(d + name), (name[1] == '-' ? QStringList{"--new-window", url} : QStringList{url}));  // x-www-browser: chromium
        QFile::remove(d + name);
    }
    EXPECT_FALSE(XdgBrowserLauncher().openNewWindow(QStringLiteral("http://beispiel.invalid/")));
    qputenv("PATH", path);
    QThread::msleep(200);  // time for a wrongly started program to leave its mark
    EXPECT_EQ(QDir(d).entryList({"?", "*.rec"}, QDir::Files), QStringList{});
}

} // namespace
