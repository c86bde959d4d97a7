// The task window on a real X display (a private Xvfb, no window manager),
// reading it through the xcb window list and ending processes for real.
#include "platform/codepage.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "taskstesting.h"

#include "support/sleeper.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

using lesemund::Ftask;
using lesemund::platform::LinuxProcessControl;
using lesemund::platform::ProcessControl;
using lesemund::platform::XcbWindowList;
using lesemund::testing::MainWindowStandIn;
using lesemund::testing::ManualTimer;
using lesemund::testing::ManualTimerFactory;
using lesemund::testing::XcbTestClient;
using lesemund::testing::XvfbServer;

using lesemund::testing::Sleeper;

namespace {

// The real process control, with a record of what each call gave.
class RecordingProcessControl : public ProcessControl {
public:
    LinuxProcessControl real;
    QList<Handle> opened;
    QList<int> openErrors;
    int ended = 0;

    Handle openProcess(quint32 access, bool inherit, qint32 pid) override {
        const Handle h = real.openProcess(access, inherit, pid);
        opened << h;
        openErrors << real.lastError();
        return h;
    }
    bool terminateProcess(Handle h, quint32 code) override {
        const bool ok = real.terminateProcess(h, code);
        ended += ok ? 1 : 0;
        return ok;
    }
    bool closeHandle(Handle h) override { return real.closeHandle(h); }
};


class FtaskOnX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new XvfbServer;
        if (!server_->start(200, &startError_)) {
            delete server_;
            server_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(server_, nullptr) << startError_.toStdString();
        client = std::make_unique<XcbTestClient>(server_->displayName());
        ASSERT_TRUE(client->ok());
        XcbWindowList::Settings settings;
        settings.display = server_->displayName();
        windows = std::make_unique<XcbWindowList>(settings);
        task = std::make_unique<Ftask>(*windows, processes, timers, &main.text1, &main.lesemund);
    }

    ManualTimer &timer1() { return *timers.timers().at(0); }

    static XvfbServer *server_;
    static QString startError_;
    lesemund::testing::ApplicationPresent application;
    std::unique_ptr<XcbTestClient> client;
    std::unique_ptr<XcbWindowList> windows;
    RecordingProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    std::unique_ptr<Ftask> task;
};

XvfbServer *FtaskOnX11::server_ = nullptr;
QString FtaskOnX11::startError_;

TEST_F(FtaskOnX11, RaisingAnotherWindowSpeaksItsTitleOnce) {
    const xcb_window_t editor = client->createWindow("Editor - brief.txt");
    client->createWindow("Rechner");
    task->showTask();
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{"Rechner"});
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{"Rechner"}) << "the same window twice speaks once";
    client->raise(editor);
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{"Rechner", "Editor - brief.txt"}));
    timer1().fire();
    EXPECT_EQ(main.spoken.size(), 2);
    EXPECT_EQ(task->List1(0)->item(0)->text(), QString::number(editor));
}

TEST_F(FtaskOnX11, SichtbareLeavesOutHiddenAndUnframedWindows) {
    client->createWindow("Hauptfenster");
    XcbTestClient::Options override;
    override.overrideRedirect = true;
    client->createWindow("Tooltip ohne Rahmen", override);
    XcbTestClient::Options unmapped;
    unmapped.map = false;
    client->createWindow("Nicht gezeigt", unmapped);
    const xcb_window_t dock = client->createWindow("Leiste");
    client->setWindowType(dock, {"_NET_WM_WINDOW_TYPE_DOCK"});
    client->createWindow({}); // no title
    task->showTask();
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{"Hauptfenster"});
    ASSERT_GE(task->List1(1)->count(), 1);
    for (int i = 0; i < task->List1(1)->count(); ++i) {
        const QString title = task->List1(1)->item(i)->text();
        EXPECT_NE(title, QStringLiteral("Tooltip ohne Rahmen"));
        EXPECT_NE(title, QStringLiteral("Nicht gezeigt"));
        EXPECT_NE(title, QStringLiteral("Leiste"));
        EXPECT_FALSE(title.isEmpty());
    }
    task->Option2()->click();
    task->Check1()->click();
    QStringList all;
    for (int i = 0; i < task->List1(1)->count(); ++i)
        all << task->List1(1)->item(i)->text();
    EXPECT_TRUE(all.contains(QStringLiteral("Tooltip ohne Rahmen")));
    EXPECT_TRUE(all.contains(QStringLiteral("Nicht gezeigt")));
    EXPECT_EQ(task->List1(0)->item(0)->text(), QString::number(client->root())) << "the desktop comes first";
    EXPECT_EQ(task->List1(1)->item(0)->text(), QString());
}

TEST_F(FtaskOnX11, OddTitlesAreSpokenAsRead) {
    const xcb_window_t w = client->createWindow({});
    const QByteArray invalid("Men\xfc " "\xc3\x28 Ende");
    client->setNetWmName(w, invalid);
    task->showTask();
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{lesemund::codepage::fromAnsi(invalid)});

    QByteArray big;
    while (big.size() < 10240)
        big += "Sehr langer Fenstertitel mit \xc3\xa4 und \xe2\x82\xac; ";
    const xcb_window_t large = client->createWindow({});
    client->setNetWmName(large, big);
    timer1().fire();
    EXPECT_EQ(main.text1.text(), QString::fromUtf8(big));
    EXPECT_EQ(main.spoken.size(), 2);
    EXPECT_EQ(main.spoken.last(), QString::fromUtf8(big));
    EXPECT_NE(large, w);
}

TEST_F(FtaskOnX11, TaskBeendenEndsTheProcessOfTheSelectedWindow) {
    Sleeper child;
    ASSERT_GT(child.pid(), 0);
    client->createWindow("Andere Anwendung");
    const xcb_window_t w = client->createWindow("Schlafendes Programm");
    client->setPid(w, static_cast<uint32_t>(child.pid()));
    task->showTask();
    timer1().fire();
    ASSERT_EQ(task->List1(2)->currentItem()->text(), QString::number(child.pid()));
    task->Command2()->click();
    const int status = child.waitForEnd();
    ASSERT_NE(status, -1) << "the process is still running";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(processes.ended, 1);
    // The ended window's row stays until the next refresh.
    EXPECT_EQ(task->List1(1)->item(0)->text(), QStringLiteral("Schlafendes Programm"));
}

TEST_F(FtaskOnX11, TaskBeendenRefusesZeroAndMinusOne) {
    Sleeper bystander;
    ASSERT_GT(bystander.pid(), 0);
    const xcb_window_t none = client->createWindow("Ohne Prozess");
    task->showTask();
    timer1().fire();
    ASSERT_EQ(task->List1(2)->currentItem()->text(), QStringLiteral("0"));
    task->Command2()->click();

    const xcb_window_t minus = client->createWindow("Minus eins");
    client->setPid(minus, 0xFFFFFFFFu);
    timer1().fire();
    ASSERT_EQ(task->List1(2)->currentItem()->text(), QStringLiteral("-1"));
    task->Command2()->click();

    EXPECT_EQ(processes.opened, (QList<ProcessControl::Handle>{0, 0}));
    EXPECT_EQ(processes.openErrors, (QList<int>{0, 0})) << "refused before any system call";
    EXPECT_EQ(processes.ended, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(bystander.alive());
    EXPECT_NE(none, minus);
}

TEST(FtaskWithoutDisplay, PollerRunsAndSaysNothing) {
    lesemund::testing::ApplicationPresent application;
    XcbWindowList::Settings settings;
    settings.display = ":4986";
    XcbWindowList windows(settings);
    RecordingProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    Ftask task(windows, processes, timers, &main.text1, &main.lesemund);
    task.showTask();
    for (int i = 0; i < 20; ++i)
        timers.timers().at(0)->fire();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(task.List1(i)->count(), 0);
    EXPECT_TRUE(main.spoken.isEmpty());
    EXPECT_FALSE(task.isVisible());
    EXPECT_TRUE(timers.timers().at(0)->isActive());
    task.Command2()->click();
    EXPECT_TRUE(processes.opened.isEmpty());
}

TEST(FtaskServerLoss, PollerOutlivesTheXServerAndPicksUpANewOne) {
    lesemund::testing::ApplicationPresent application;
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(220, &error)) << error.toStdString();
    XcbWindowList::Settings settings;
    settings.display = server.displayName();
    settings.reconnectIntervalMs = 50;
    XcbWindowList windows(settings);
    RecordingProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    Ftask task(windows, processes, timers, &main.text1, &main.lesemund);
    auto tick = [&] { timers.timers().at(0)->fire(); };
    {
        XcbTestClient client(server.displayName());
        client.createWindow("Vor dem Absturz");
        task.showTask();
        tick();
        ASSERT_EQ(main.spoken, QStringList{"Vor dem Absturz"});
        server.kill();
        for (int i = 0; i < 10; ++i)
            tick();
        EXPECT_EQ(task.List1(1)->count(), 0);
    }
    ASSERT_TRUE(server.restart(&error)) << error.toStdString();
    XcbTestClient client(server.displayName());
    client.createWindow("Nach dem Neustart");
    for (int i = 0; i < 100 && task.List1(1)->count() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        tick();
    }
    EXPECT_EQ(main.text1.text(), QStringLiteral("Nach dem Neustart"));
    EXPECT_EQ(main.spoken.last(), QStringLiteral("Nach dem Neustart"));
}

} // namespace
