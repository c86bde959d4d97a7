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

class RecordingProgram {
public:
    // A shell script called `name` in a folder of its own that writes the
    // number of its arguments and each argument, zero-terminated, to a
    // record file.
    explicit RecordingProgram(const QString &name = QStringLiteral("aufzeichner")) {
        path_ = dir_.path() + "/" + name;
        const QByteArray record = QFile::encodeName(recordPath());
        QFile script(path_);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "{ printf '%s\\0' \"$#\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > '" +
                     record + ".part'\n"
                     "/bin/mv '" + record + ".part' '" + record + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString folder() const { return dir_.path(); }
    QString path() const { return path_; }
    QString recordPath() const { return dir_.path() + "/aufgezeichnet"; }
    QString marker(const QString &name) const { return dir_.path() + "/" + name; }

    // The arguments of the one run, or nullopt when the program did not run
    // within five seconds.
    std::optional<QStringList> arguments() const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!QFileInfo::exists(recordPath())) {
            if (std::chrono::steady_clock::now() > until)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        QFile f(recordPath());
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        QList<QByteArray> parts = f.readAll().split('\0');
        if (!parts.isEmpty() && parts.back().isEmpty())
            parts.removeLast();
        if (parts.isEmpty() || parts[0].toInt() != parts.size() - 1)
            return QStringList{QStringLiteral("<bad record>")};
        QStringList args;
        for (qsizetype i = 1; i < parts.size(); ++i)
            args << QString::fromUtf8(parts[i]);
        return args;
    }

private:
    QTemporaryDir dir_;
    QString path_;
};

// An address that would run three commands if any shell saw it.
QString hostileAddress(const RecordingProgram &p) {
    return "http://beispiel.invalid/a b.txt;touch " + p.marker("eins") + ";$(touch " + p.marker("zwei") +
           ")`touch " + p.marker("drei") + "`'\"&|<>*\n" + "&& touch " + p.marker("vier");
}

void expectNoMarkers(const RecordingProgram &p) {
    // Give a wrongly started command time to leave its mark.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const char *name : {"eins", "zwei", "drei", "vier"})
        EXPECT_FALSE(QFileInfo::exists(p.marker(QString::fromLatin1(name)))) << name;
}

class PathOverride {
public:
    explicit PathOverride(const QString &path) : saved_(qgetenv("PATH")) {
        qputenv("PATH", QFile::encodeName(path));
    }
    ~PathOverride() { qputenv("PATH", saved_); }

private:
    QByteArray saved_;
};

TEST(ShellOpener, DefaultProgramIsXdgOpen) {
    EXPECT_EQ(XdgShellOpener().program(), QStringLiteral("xdg-open"));
}

TEST(ShellOpener, HostileAddressIsOneArgumentAndRunsNothing) {
    RecordingProgram program;
    XdgShellOpener opener(program.path());
    const QString address = hostileAddress(program);
    EXPECT_TRUE(opener.open(address));
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, QStringList{address});
    expectNoMarkers(program);
}

TEST(ShellOpener, LocalPathWithBlanksIsOneArgument) {
    RecordingProgram program;
    XdgShellOpener opener(program.path());
    const QString path = QStringLiteral("/home/anna/Meine Dokumente/Brief an Oma.doc");
    opener.open(path);
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, QStringList{path});
}

TEST(ShellOpener, MissingProgramReportsFailureWithoutCrashing) {
    QTemporaryDir dir;
    XdgShellOpener opener(dir.path() + "/gibt-es-nicht");
    EXPECT_FALSE(opener.open(QStringLiteral("http://beispiel.invalid/")));
}

TEST(BrowserLauncher, HostileAddressIsOneArgumentAndRunsNothing) {
    RecordingProgram program;
    XdgBrowserLauncher launcher(program.path());
    const QString address = hostileAddress(program);
    EXPECT_TRUE(launcher.openNewWindow(address));
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, QStringList{address});
    expectNoMarkers(program);
}

TEST(BrowserLauncher, FirefoxIsAskedForANewWindow) {
    RecordingProgram program(QStringLiteral("firefox-esr"));
    XdgBrowserLauncher launcher(program.path());
    const QString address = hostileAddress(program);
    launcher.openNewWindow(address);
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, (QStringList{QStringLiteral("--new-window"), address}));
    expectNoMarkers(program);
}

TEST(BrowserLauncher, ChromiumBehindAGenericLinkIsAskedForANewWindow) {
    RecordingProgram program(QStringLiteral("chromium"));
    const QString link = program.folder() + "/x-www-browser";
    ASSERT_TRUE(QFile::link(program.path(), link));
    XdgBrowserLauncher launcher(link);
    launcher.openNewWindow(QStringLiteral("http://beispiel.invalid/chat1"));
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, (QStringList{QStringLiteral("--new-window"), QStringLiteral("http://beispiel.invalid/chat1")}));
}

TEST(BrowserLauncher, KnownBrowserNames) {
    EXPECT_TRUE(XdgBrowserLauncher::takesNewWindowOption(QStringLiteral("/usr/bin/firefox")));
    EXPECT_TRUE(XdgBrowserLauncher::takesNewWindowOption(QStringLiteral("/opt/x/google-chrome-stable")));
    EXPECT_TRUE(XdgBrowserLauncher::takesNewWindowOption(QStringLiteral("/usr/bin/chromium-browser")));
    EXPECT_FALSE(XdgBrowserLauncher::takesNewWindowOption(QStringLiteral("/usr/bin/xdg-open")));
    EXPECT_FALSE(XdgBrowserLauncher::takesNewWindowOption(QStringLiteral("/usr/bin/lynx")));
    EXPECT_FALSE(XdgBrowserLauncher::takesNewWindowOption(QString()));
}

TEST(BrowserLauncher, DesktopBrowserPrefersXWwwBrowserThenSensibleBrowserThenXdgOpen) {
    QTemporaryDir dir;
    auto makeProgram = [&](const QString &name) {
        QFile f(dir.path() + "/" + name);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    PathOverride path(dir.path());
    EXPECT_TRUE(XdgBrowserLauncher::desktopBrowser().isEmpty());
    EXPECT_FALSE(XdgBrowserLauncher().openNewWindow(QStringLiteral("http://beispiel.invalid/")));
    makeProgram(QStringLiteral("xdg-open"));
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/xdg-open");
    makeProgram(QStringLiteral("sensible-browser"));
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/sensible-browser");
    makeProgram(QStringLiteral("x-www-browser"));
    EXPECT_EQ(XdgBrowserLauncher::desktopBrowser(), dir.path() + "/x-www-browser");
}

TEST(BrowserLauncher, DesktopBrowserIsStartedWhenNoProgramIsGiven) {
    RecordingProgram program(QStringLiteral("firefox"));
    ASSERT_TRUE(QFile::link(program.path(), program.folder() + "/x-www-browser"));
    PathOverride path(program.folder());
    XdgBrowserLauncher launcher;
    const auto command = launcher.commandFor(QStringLiteral("http://beispiel.invalid/chat2"));
    EXPECT_EQ(command.program, program.folder() + "/x-www-browser");
    EXPECT_TRUE(launcher.openNewWindow(QStringLiteral("http://beispiel.invalid/chat2")));
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, (QStringList{QStringLiteral("--new-window"), QStringLiteral("http://beispiel.invalid/chat2")}));
}

TEST(BrowserLauncher, UnknownBrowserGetsTheAddressAlone) {
    RecordingProgram program(QStringLiteral("sensible-browser"));
    XdgBrowserLauncher launcher(program.path());
    launcher.openNewWindow(QStringLiteral("http://beispiel.invalid/chat1+"));
    const auto args = program.arguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, QStringList{QStringLiteral("http://beispiel.invalid/chat1+")});
}

} // namespace
