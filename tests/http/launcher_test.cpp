// The shell opener and the browser launcher start their program with an
// argument vector: a hostile address is one argument and runs nothing.
// A recording script stands in for xdg-open and the browser.
#include "platform/xdgbrowserlauncher.h"
#include "platform/xdgshellopener.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <optional>
#include <thread>

using lesemund::platform::XdgBrowserLauncher;
using lesemund::platform::XdgShellOpener;

namespace {

void writeScript(const QString &path, const QByteArray &text) {
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly)) << path.toStdString();
    script.write("#!/bin/sh\n" + text);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A shell script called `name` in a folder of its own that writes each of
// its arguments, zero-terminated, to a record file.
class RecordingProgram {
public:
    explicit RecordingProgram(const QString &name) : path_(dir_.path() + "/" + name) {
        const QByteArray record = QFile::encodeName(marker(QStringLiteral("aufgezeichnet")));
        writeScript(path_, "for a; do printf '%s\\0' \"$a\"; done > '" + record + ".part'\n/bin/mv '" +
                               record + ".part' '" + record + "'\n");
    }

    QString path() const { return path_; }
    QString marker(const QString &name) const { return dir_.path() + "/" + name; }

    // The arguments of the one run, or nullopt when the program did not run
    // within five seconds.
    std::optional<QStringList> arguments() const {
        QFile f(marker(QStringLiteral("aufgezeichnet")));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!f.exists() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        QStringList args;
        for (const QByteArray &arg : f.readAll().split('\0'))
            args << QString::fromUtf8(arg);
        args.removeLast();  // after the last terminator
        return args;
    }

    // An address that would run four commands if any shell saw it.
    QString hostileAddress() const {
        return "http://beispiel.invalid/a b.txt;touch " + marker("eins") + ";$(touch " + marker("zwei") +
               ")`touch " + marker("drei") + "`'\"&|<>*\n" + "&& touch " + marker("vier");
    }

    void expectNoCommandRan() const {
        // Give a wrongly started command time to leave its mark.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (const char *name : {"eins", "zwei", "drei", "vier"})
            EXPECT_FALSE(QFileInfo::exists(marker(QString::fromLatin1(name)))) << name;
    }

private:
    QTemporaryDir dir_;
    QString path_;
};

TEST(ShellOpenerAndBrowserLauncher, HostileAddressIsOneArgumentAndRunsNothing) {
    // Firefox- and Chromium-like browsers, also behind a generic link, are
    // asked for a new window; any other program gets the address alone.
    struct Case { const char *name, *link; bool browser, newWindow; };
    for (const Case &c : {Case{"xdg-open", nullptr, false, false}, Case{"firefox-esr", nullptr, true, true},
                          Case{"chromium", "x-www-browser", true, true}, Case{"sensible-browser", nullptr, true, false}}) {
        RecordingProgram program(QString::fromLatin1(c.name));
        QString started = program.path();
        if (c.link) {
            started = program.marker(QString::fromLatin1(c.link));
            ASSERT_TRUE(QFile::link(program.path(), started));
        }
        const QString address = program.hostileAddress();
        EXPECT_TRUE(c.browser ? XdgBrowserLauncher(started).openNewWindow(address) : XdgShellOpener(started).open(address))
            << c.name;
        QStringList expected{address};
        if (c.newWindow)
            expected.prepend(QStringLiteral("--new-window"));
        EXPECT_EQ(program.arguments(), expected) << c.name;
        program.expectNoCommandRan();

        // An address that looks like an option is never handed over.
        QFile::remove(program.marker(QStringLiteral("aufgezeichnet")));
        EXPECT_FALSE(c.browser ? XdgBrowserLauncher(started).openNewWindow(QStringLiteral("--kiosk"))
                               : XdgShellOpener(started).open(QStringLiteral("-v")))
            << c.name;
        program.expectNoCommandRan();
        EXPECT_FALSE(QFileInfo::exists(program.marker(QStringLiteral("aufgezeichnet")))) << c.name;
    }
}

TEST(ShellOpener, MissingProgramReportsFailureWithoutCrashing) {
    QTemporaryDir dir;
    EXPECT_FALSE(XdgShellOpener(dir.path() + "/gibt-es-nicht").open(QStringLiteral("http://beispiel.invalid/")));
}

class PathOverride {
public:
    explicit PathOverride(const QString &path) : saved_(qgetenv("PATH")) { qputenv("PATH", QFile::encodeName(path)); }
    ~PathOverride() { qputenv("PATH", saved_); }

private:
    QByteArray saved_;
};

TEST(BrowserLauncher, DesktopBrowserIsXWwwBrowserThenSensibleBrowserThenXdgOpen) {
    QTemporaryDir dir;
    PathOverride path(dir.path());
    EXPECT_TRUE(XdgBrowserLauncher::desktopBrowser().isEmpty());
    EXPECT_FALSE(XdgBrowserLauncher().openNewWindow(QStringLiteral("http://beispiel.invalid/")));
    writeScript(dir.path() + "/xdg-open", "");
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/xdg-open");
    writeScript(dir.path() + "/sensible-browser", "");
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/sensible-browser");

    // A launcher without a program of its own starts the one found now.
    RecordingProgram firefox(QStringLiteral("firefox"));
    ASSERT_TRUE(QFile::link(firefox.path(), dir.path() + "/x-www-browser"));
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/x-www-browser");
    EXPECT_TRUE(XdgBrowserLauncher().openNewWindow(QStringLiteral("http://beispiel.invalid/chat2")));
    EXPECT_EQ(firefox.arguments(),
              (QStringList{QStringLiteral("--new-window"), QStringLiteral("http://beispiel.invalid/chat2")}));
}

} // namespace
