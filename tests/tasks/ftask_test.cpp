// The task window on a private Xvfb, where "Task beenden" ends real
// processes, and on a desktop written by hand.
#include "platform/linuxprocesscontrol.h"
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "support/manualtimer.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "tasks/ftask.h"

#include <QtWidgets>
#include <gtest/gtest.h>

namespace lesemund::testing {

// The task window with the main window's Text1 and "Text Lesen" button;
// each press records what Text1 held, which is what the main window speaks.
struct Rig {
    Rig(platform::WindowList &w, platform::ProcessControl &p) : task(w, p, timers, &text1, &lesemund) {
        QObject::connect(&lesemund, &QPushButton::clicked, [this] { spoken << text1.text(); });
    }
    ManualTimer &timer() { return *timers.timers().at(0); }
    QStringList column(int i) {
        QStringList rows;
        for (int row = 0; row < task.List1(i)->count(); ++row)
            rows << task.List1(i)->item(row)->text();
        return rows;
    }
    QLineEdit text1;
    QPushButton lesemund;
    QStringList spoken;
    ManualTimerFactory timers;
    Ftask task;
};

TEST(Ftask, OnX11ItSpeaksEachNewTopTitleFiltersAndEndsTheRightProcess) {
    XcbTestClient x(sharedXvfb().displayName());
    platform::XcbWindowList windows(sharedXvfb().settings());
    platform::LinuxProcessControl processes;
    Rig r(windows, processes);
    QProcess child; // this test's process is the bystander
    child.start("sleep", {"60"});
    ASSERT_TRUE(child.waitForStarted());
    x.set(x.createWindow("Minus eins"), "_NET_WM_PID", "CARDINAL", {0xFFFFFFFFu});
    x.createWindow("Tooltip", XcbTestClient::OverrideRedirect);
    x.createWindow("Nicht gezeigt", XcbTestClient::Unmapped);
    x.set(x.createWindow("Leiste"), "_NET_WM_WINDOW_TYPE", "ATOM", {x.atom("_NET_WM_WINDOW_TYPE_DOCK")});
    x.createWindow();
    r.task.showTask();
    r.task.Option2()->click();
    r.timer().fire();
    EXPECT_FALSE(r.task.isVisible());
    x.set(x.createWindow("Schl\xe4" "ft"), "_NET_WM_PID", "CARDINAL", {uint32_t(child.processId())});
    r.timer().fire();
    r.timer().fire();
    EXPECT_EQ(r.spoken, (QStringList{"Leiste", "Schläft"})) << "each new top title once";
    const struct { QRadioButton *filter; bool titleless; QStringList titles; } cases[] = {
        {r.task.Option1(), false, {"Schläft", "Minus eins"}},
        {r.task.Option2(), true, {"", "Schläft", "", "Leiste", "Nicht gezeigt", "Tooltip", "Minus eins"}},
        {r.task.Option1(), true, {"Schläft", "", "Minus eins"}},
    };
    for (const auto &c : cases) {
        c.filter->click();
        r.task.Check1()->setChecked(c.titleless);
        EXPECT_EQ(r.column(1), c.titles) << c.filter->text().toStdString() << c.titleless;
    }
    EXPECT_EQ(processes.openProcess(1, false, 0), 0);
    EXPECT_EQ(processes.lastError(), 0) << "id 0 is refused before any system call";
    const auto early = processes.openProcess(1, false, child.processId());
    // Ids -1 and 0 would hit every process or this test's process group.
    for (int row : {2, 1, 0}) {
        r.task.List1(2)->setCurrentRow(row);
        r.task.Command2()->click();
    }
    ASSERT_TRUE(child.waitForFinished(2000));
    EXPECT_EQ(std::pair(child.exitStatus(), child.exitCode()), std::pair(QProcess::CrashExit, SIGKILL));
    // Its id is free for reuse now; a handle opened before still names the ended process.
    EXPECT_FALSE(processes.terminateProcess(early, 1));
    EXPECT_EQ(processes.lastError(), ESRCH);
    EXPECT_TRUE(processes.closeHandle(early));
    EXPECT_FALSE(processes.closeHandle(early));
}

TEST(Ftask, ListsLineUpTaskBeendenReadsTheIdCommand4ComparesAndEndeStartsOver) {
    FakeWindowList windows;
    FakeProcessControl processes;
    for (int i = 0; i < 60; ++i)
        windows.add(100 + i, QStringLiteral("Fenster %1").arg(i), 1000 + i);
    Rig r(windows, processes);
    r.task.showTask();
    QListWidget *handles = r.task.List1(0), *titles = r.task.List1(1), *ids = r.task.List1(2);
    QStringList tabOrder;
    QWidget *w = handles;
    for (int step = 0; step < 100 && tabOrder.size() < 12; ++step, w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            tabOrder << w->objectName();
    EXPECT_EQ(tabOrder.join(' '), "List1_0 Command1 List1_1 Option1 Option2 List1_2 Check1 Command2 Command3 "
                                  "Textvergleich Command4 Command5");
    titles->verticalScrollBar()->setValue(20);
    titles->setCurrentRow(25);
    for (QListWidget *list : {handles, titles, ids})
        EXPECT_EQ(std::pair(list->currentRow(), list->verticalScrollBar()->value()), std::pair(25, 20));
    ids->setCurrentRow(3);
    EXPECT_EQ(handles->currentItem()->text() + r.text1.text(), "103Fenster 3");

    const struct { const char *text; int pid; } cases[] = {
        {"1003", 1003}, {"", 0}, {"abc", 0}, {"99999999999", 0}, {" -1 ", -1}};
    for (const auto &c : cases) {
        processes.calls.clear();
        ids->item(3)->setText(c.text);
        r.task.Command2()->click();
        const QString expected = QString("open 1 0 %1,terminate %2 1,close %2").arg(c.pid).arg(c.pid > 0 ? 7 : 0);
        EXPECT_EQ(processes.calls.join(','), expected);
    }
    QString verdict;
    QTimer::singleShot(0, [&] {
        auto *box = static_cast<QMessageBox *>(QApplication::activeModalWidget());
        verdict = box->text();
        box->close();
    });
    r.task.Command4()->click();
    EXPECT_EQ(verdict, "nicht gleich") << "the empty comparison field against the selected title";
    // "Ende", then a new load: nothing polls meanwhile, and the controls and
    // the comparison field start over, so the top title is spoken again.
    r.timer().fire();
    r.task.Check1()->click();
    r.task.Command5()->click();
    EXPECT_FALSE(r.task.isLoaded() || r.task.isVisible() || r.timer().isActive());
    r.task.showTask();
    r.timer().fire();
    EXPECT_TRUE(r.task.Option1()->isChecked() && !r.task.Check1()->isChecked());
    EXPECT_EQ(r.spoken, (QStringList{"Fenster 0", "Fenster 0"}));
}

} // namespace lesemund::testing
