// The task window on a real X display (a private Xvfb, no window manager),
// reading it through the xcb window list and ending processes for real.
#include "platform/codepage.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/xcbwindowlist.h"
#include "support/fakeprocesscontrol.h"
#include "support/sleeper.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "taskstesting.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

using namespace lesemund;
using namespace lesemund::platform;
using namespace lesemund::testing;

namespace {

XcbWindowList::Settings settingsFor(const XvfbServer &server) {
    XcbWindowList::Settings settings;
    settings.display = server.displayName();
    settings.reconnectIntervalMs = 50;
    return settings;
}

XvfbServer &sharedServer() { return lesemund::testing::sharedXvfbServer(200); }

class FtaskOnX11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.ok()) << "no Xvfb"; }
    ManualTimer &timer1() { return *timers.timers().at(0); }

    XcbTestClient client{sharedServer().displayName()};
    XcbWindowList windows{settingsFor(sharedServer())};
    LinuxProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    Ftask task{windows, processes, timers, &main.text1, &main.lesemund};
};

TEST_F(FtaskOnX11, RaisingAnotherWindowSpeaksItsWholeTitleOnce) {
    // A title of 10 KB, and one whose bytes are not UTF-8.
    QByteArray big;
    while (big.size() < 10240)
        big += "Sehr langer Fenstertitel mit \xc3\xa4 und \xe2\x82\xac; ";
    const QString invalid = codepage::fromAnsi("Men\xfc " "\xc3\x28 Ende");
    const xcb_window_t editor = client.createWindow({});
    client.setNetWmName(editor, big);
    const xcb_window_t other = client.createWindow({});
    client.setNetWmName(other, "Men\xfc " "\xc3\x28 Ende");
    task.showTask();
    timer1().fire();
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{invalid}) << "the same window twice speaks once";
    client.raise(editor);
    timer1().fire();
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{invalid, QString::fromUtf8(big)}));
    EXPECT_EQ(task.Textvergleich()->text(), QString::fromUtf8(big));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(task.List1(i)->currentRow(), 0) << i;
    EXPECT_EQ(task.List1(0)->item(0)->text(), QString::number(editor));
    client.raise(other);
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{invalid, QString::fromUtf8(big), invalid}));
}

TEST_F(FtaskOnX11, FiltersListTheWindowsInZOrder) {
    client.createWindow("Hauptfenster");
    XcbTestClient::Options override;
    override.overrideRedirect = true;
    client.createWindow("Tooltip", override);
    XcbTestClient::Options unmapped;
    unmapped.map = false;
    client.createWindow("Nicht gezeigt", unmapped);
    const xcb_window_t dock = client.createWindow("Leiste");
    client.setWindowType(dock, {"_NET_WM_WINDOW_TYPE_DOCK"});
    const xcb_window_t untitled = client.createWindow({});
    task.showTask();

    const struct {
        QRadioButton *filter;
        bool titleless;
        QStringList titles;
    } cases[] = {
        {task.Option1(), false, {"Hauptfenster"}},
        {task.Option1(), true, {"", "Hauptfenster"}},
        {task.Option2(), false, {"Leiste", "Nicht gezeigt", "Tooltip", "Hauptfenster"}},
        {task.Option2(), true, {"", "", "Leiste", "Nicht gezeigt", "Tooltip", "Hauptfenster"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.filter->text().toStdString() + (c.titleless ? " + Auch Titellose" : ""));
        c.filter->click();
        task.Check1()->setChecked(c.titleless);
        EXPECT_EQ(column(task.List1(1)), c.titles);
    }
    EXPECT_EQ(task.List1(0)->item(0)->text(), QString::number(client.root())) << "the desktop comes first";
    EXPECT_EQ(task.List1(0)->item(1)->text(), QString::number(untitled));
}

TEST_F(FtaskOnX11, TaskBeendenEndsTheSelectedProcessAndRefusesZeroAndMinusOne) {
    Sleeper child;
    Sleeper bystander;
    ASSERT_GT(child.pid(), 0);
    ASSERT_GT(bystander.pid(), 0);
    client.setPid(client.createWindow("Minus eins"), 0xFFFFFFFFu);
    client.createWindow("Ohne Prozess");
    client.setPid(client.createWindow("Schlafendes Programm"), static_cast<uint32_t>(child.pid()));
    task.showTask();
    ASSERT_EQ(column(task.List1(2)), (QStringList{QString::number(child.pid()), "0", "-1"}));

    // Ids 0 and -1 are refused: ending them would hit this test's own
    // process group or every process it may signal.
    for (int row : {1, 2}) {
        task.List1(2)->setCurrentRow(row);
        task.Command2()->click();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(child.alive());
    task.List1(2)->setCurrentRow(0);
    task.Command2()->click();
    const int status = child.waitForEnd();
    ASSERT_NE(status, -1) << "the process is still running";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(bystander.alive());
    // The ended window's row stays until the next refresh.
    EXPECT_EQ(task.List1(1)->item(0)->text(), QStringLiteral("Schlafendes Programm"));
}

TEST(FtaskWithoutDisplay, ListStaysEmptyAndThePollerRuns) {
    const QByteArray saved = qgetenv("DISPLAY");
    const bool had = qEnvironmentVariableIsSet("DISPLAY");
    qunsetenv("DISPLAY");
    for (const QByteArray &display : {QByteArray(":4986"), QByteArray()}) {
        SCOPED_TRACE(display.isEmpty() ? "no DISPLAY" : display.constData());
        XcbWindowList::Settings settings;
        settings.display = display; // empty: from the environment
        settings.reconnectIntervalMs = 60000;
        XcbWindowList windows(settings);
        FakeProcessControl processes;
        ManualTimerFactory timers;
        MainWindowStandIn main;
        Ftask task(windows, processes, timers, &main.text1, &main.lesemund);
        task.showTask();
        for (int i = 0; i < 100; ++i)
            timers.timers().at(0)->fire();
        EXPECT_EQ(windows.connectionAttempts(), 1) << "a missing server is not asked for at every step";
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(task.List1(i)->count(), 0);
        EXPECT_TRUE(main.spoken.isEmpty());
        EXPECT_FALSE(task.isVisible());
        EXPECT_TRUE(timers.timers().at(0)->isActive());
    }
    if (had)
        qputenv("DISPLAY", saved);
}

TEST(FtaskServerLoss, PollerOutlivesTheXServerAndPicksUpANewOne) {
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(220, &error)) << error.toStdString();
    XcbWindowList windows(settingsFor(server));
    FakeProcessControl processes;
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
    EXPECT_EQ(main.spoken.last(), QStringLiteral("Nach dem Neustart"));
}

} // namespace
