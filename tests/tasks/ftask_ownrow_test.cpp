// The task window is itself a framed, titled window: while it is shown and
// on top, its own row ("...") is row 0, so the first polling step after a
// show request speaks that caption before the window hides.
//
// This needs the task window on a real X display, while the rest of this
// test program runs on the offscreen platform. So the test starts a private
// X server and runs this program once more on it, with only the scenario
// below (kept out of ordinary runs by the DISABLED_ prefix).
#include "platform/xcbwindowlist.h"
#include "support/fakeprocesscontrol.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "taskstesting.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QListWidget>
#include <QProcess>

#include <functional>

using lesemund::Ftask;
using lesemund::platform::WindowSnapshot;
using lesemund::platform::XcbWindowList;
using lesemund::testing::FakeProcessControl;
using lesemund::testing::MainWindowStandIn;
using lesemund::testing::ManualTimerFactory;
using lesemund::testing::XcbTestClient;
using lesemund::testing::XvfbServer;

namespace {

// Lets Qt talk to the server until `done` holds or five seconds pass.
bool settle(const std::function<bool()> &done) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done())
            return true;
    }
    return false;
}

TEST(FtaskOwnRow, ShownTaskWindowIsRowZeroAndSpeaksItsCaptionFirst) {
    lesemund::testing::ApplicationPresent application;
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(260, &error)) << error.toStdString();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(server.displayName()));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=FtaskOwnRow.DISABLED_OnARealDisplay"),
                 QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(child.waitForStarted(10000));
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(5000);
        FAIL() << "the scenario did not finish";
    }
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

TEST(FtaskOwnRow, DISABLED_OnARealDisplay) {
    lesemund::testing::ApplicationPresent application;
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    XcbTestClient client(qgetenv("DISPLAY"));
    ASSERT_TRUE(client.ok());
    client.createWindow("Anderes Fenster");

    XcbWindowList windows;
    FakeProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    Ftask task(windows, processes, timers, &main.text1, &main.lesemund);
    task.showTask();
    const qint64 own = static_cast<qint64>(task.winId());
    ASSERT_TRUE(settle([&] {
        const WindowSnapshot s = windows.snapshot();
        return !s.windows.empty() && s.windows[0].handle == own && s.windows[0].visible;
    })) << "the task window did not come up on top";

    const WindowSnapshot s = windows.snapshot();
    EXPECT_EQ(s.windows[0].title, QStringLiteral("..."));
    EXPECT_TRUE(s.windows[0].border);
    EXPECT_EQ(s.windows[0].processId, static_cast<qint32>(QCoreApplication::applicationPid()));

    timers.timers().at(0)->fire();
    EXPECT_EQ(main.spoken, QStringList{"..."});
    EXPECT_EQ(task.List1(0)->item(0)->text(), QString::number(own));
    EXPECT_FALSE(task.isVisible());

    ASSERT_TRUE(settle([&] {
        const WindowSnapshot after = windows.snapshot();
        return !after.windows.empty() && after.windows[0].handle == own && !after.windows[0].visible;
    })) << "the task window did not hide";
    timers.timers().at(0)->fire();
    EXPECT_EQ(main.spoken, (QStringList{"...", "Anderes Fenster"}));
}

} // namespace
