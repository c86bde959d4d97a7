// The task window on a private Xvfb, where "Task beenden" ends real
// processes, and on a desktop written by hand.
#include "platform/linuxprocesscontrol.h"
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "support/manualtimer.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "tasks/ftask.h"

#include <QTest>
#include <QtWidgets>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

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
    ASSERT_NE(x.root, 0u) << "no Xvfb";
    platform::XcbWindowList windows(sharedXvfb().settings());
    platform::LinuxProcessControl processes;
    Rig r(windows, processes);
    QProcess child, bystander;
    child.start("sleep", {"60"});
    bystander.start("sleep", {"60"});
    ASSERT_TRUE(child.waitForStarted() && bystander.waitForStarted());
    x.set(x.createWindow("Minus eins"), "_NET_WM_PID", "CARDINAL", {0xFFFFFFFFu});
    x.createWindow("Tooltip", XcbTestClient::OverrideRedirect);
    x.createWindow("Nicht gezeigt", XcbTestClient::Unmapped);
    x.set(x.createWindow("Leiste"), "_NET_WM_WINDOW_TYPE", "ATOM", {x.atom("_NET_WM_WINDOW_TYPE_DOCK")});
    x.createWindow();
    r.task.showTask();
    r.task.Option2()->click();
    r.task.showTask();
    EXPECT_TRUE(r.task.Option2()->isChecked()) << "a second show request does not load again";
    r.timer().fire();
    EXPECT_FALSE(r.task.isVisible());
    EXPECT_TRUE(r.timer().isActive()) << "it polls on unseen";
    x.set(x.createWindow("Schl\xe4" "ft"), "_NET_WM_PID", "CARDINAL", {uint32_t(child.processId())});
    r.timer().fire();
    r.timer().fire();
    EXPECT_EQ(r.spoken, (QStringList{"Leiste", "Schläft"})) << "each new top title once";
    const struct { QRadioButton *filter; bool titleless; QStringList titles; } cases[] = {
        {r.task.Option1(), false, {"Schläft", "Minus eins"}},
        {r.task.Option1(), true, {"Schläft", "", "Minus eins"}},
        {r.task.Option2(), false, {"Schläft", "Leiste", "Nicht gezeigt", "Tooltip", "Minus eins"}},
        {r.task.Option2(), true, {"", "Schläft", "", "Leiste", "Nicht gezeigt", "Tooltip", "Minus eins"}},
    };
    for (const auto &c : cases) {
        c.filter->click();
        r.task.Check1()->setChecked(c.titleless);
        EXPECT_EQ(r.column(1), c.titles) << c.filter->text().toStdString() << c.titleless;
    }
    EXPECT_EQ(r.column(0).at(0), QString::number(x.root));
    // Ids 0 and -1 would hit this test's process group or every process.
    for (int row : {6, 0, 1}) {
        r.task.List1(2)->setCurrentRow(row);
        r.task.Command2()->click();
    }
    ASSERT_TRUE(child.waitForFinished(2000));
    EXPECT_EQ(std::pair(child.exitStatus(), child.exitCode()), std::pair(QProcess::CrashExit, SIGKILL));
    EXPECT_FALSE(bystander.waitForFinished(20));
    EXPECT_EQ(r.column(1).at(1), "Schläft") << "its row stays until the next refresh";
}

TEST(Ftask, ListsLineUpTaskBeendenReadsTheIdAndEveryUnloadStartsOver) {
    FakeWindowList windows;
    FakeProcessControl processes;
    for (int i = 0; i < 60; ++i)
        windows.add(100 + i, QStringLiteral("Fenster %1").arg(i), 1000 + i);
    Rig r(windows, processes);
    r.task.showTask();
    QListWidget *handles = r.task.List1(0), *titles = r.task.List1(1), *ids = r.task.List1(2);
    titles->verticalScrollBar()->setValue(20);
    titles->setCurrentRow(25);
    for (QListWidget *list : {handles, titles, ids})
        EXPECT_EQ(std::pair(list->currentRow(), list->verticalScrollBar()->value()), std::pair(25, 20));
    EXPECT_EQ(r.text1.text(), "Fenster 25");
    // Scrolled on its own, a click on its selected row lines the others up.
    handles->verticalScrollBar()->setValue(23);
    QTest::mouseClick(handles->viewport(), Qt::LeftButton, {}, handles->visualItemRect(handles->item(25)).center());
    EXPECT_EQ(std::pair(ids->currentRow(), ids->verticalScrollBar()->value()), std::pair(25, 23));
    ids->setCurrentRow(3);
    EXPECT_EQ(handles->currentItem()->text() + r.text1.text(), "103Fenster 3");

    const struct { const char *id, *calls; } cases[] = {
        {"1003", "open 1 0 1003,terminate 7 1,close 7"}, {"", "open 1 0 0,terminate 0 1,close 0"},
        {"abc", "open 1 0 0,terminate 0 1,close 0"},     {"99999999999", "open 1 0 0,terminate 0 1,close 0"},
        {" -1 ", "open 1 0 -1,terminate 0 1,close 0"}};
    for (const auto &c : cases) {
        processes.calls.clear();
        ids->item(3)->setText(c.id);
        r.task.Command2()->click();
        EXPECT_EQ(processes.calls.join(','), c.calls);
    }
    EXPECT_EQ(windows.snapshots, 1) << "the list is not refreshed";
    QString verdict;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        verdict = box->text();
        box->accept();
    });
    r.task.Command4()->click();
    EXPECT_EQ(verdict, "nicht gleich") << "the empty comparison field against the selected title";

    const std::function<void(Ftask &)> unloads[] = {[](Ftask &t) { t.Command5()->click(); }, [](Ftask &t) { t.close(); },
                                                    [](Ftask &t) { t.closeFromMainWindow(); }};
    for (const auto &unload : unloads) {
        Rig rig(windows, processes);
        int unloaded = 0;
        QObject::connect(&rig.task, &Ftask::unloaded, [&] { ++unloaded; });
        rig.task.onUnload = [&] { unloaded += 10; };
        rig.task.showTask();
        rig.timer().fire();
        rig.task.Check1()->click();
        unload(rig.task);
        EXPECT_EQ(unloaded, 11);
        EXPECT_FALSE(rig.task.isLoaded() || rig.task.isVisible() || rig.timer().isActive());
        rig.task.showTask();
        rig.timer().fire();
        EXPECT_FALSE(rig.task.Check1()->isChecked());
        EXPECT_EQ(rig.spoken, (QStringList{"Fenster 0", "Fenster 0"})) << "a fresh load empties the comparison field";
    }
}

} // namespace
