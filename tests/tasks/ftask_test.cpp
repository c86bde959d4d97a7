// The task window on a desktop the test writes by hand.
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "taskstesting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <functional>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

class FtaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Desktop (handle 1, no title, no border), then from the top:
        windows.add(10, QStringLiteral("Eins"), 111);
        windows.add(11, QStringLiteral("Versteckt"), 112, /*visible*/ false, /*border*/ true);
        windows.add(12, QStringLiteral("Leiste"), 113, /*visible*/ true, /*border*/ false);
        windows.add(13, QString(), 114);
        windows.add(14, QStringLiteral("Zwei"), 222);
        task = std::make_unique<Ftask>(windows, processes, timers, &main.text1, &main.lesemund);
    }

    ManualTimer &timer1() { return *timers.timers().at(0); }

    FakeWindowList windows;
    FakeProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    std::unique_ptr<Ftask> task;
};

TEST_F(FtaskTest, LoadsOnShowRequestThenFirstTickPollsAndHides) {
    EXPECT_EQ(timer1().interval(), 200);
    EXPECT_FALSE(timer1().isActive());
    EXPECT_EQ(windows.snapshots, 0) << "nothing polls before the first show request";
    // The task window is listed like any other window; here it is on top.
    const qint64 own = static_cast<qint64>(task->winId());
    windows.add(own, task->windowTitle(), 99);
    windows.raise(own);
    bool shownWhilePolling = false;
    windows.beforeSnapshot = [&] { shownWhilePolling = task->isVisible(); };

    task->showTask();
    EXPECT_TRUE(task->isLoaded());
    EXPECT_TRUE(task->isVisible());
    EXPECT_TRUE(timer1().isActive());
    EXPECT_EQ(column(task->List1(1)), (QStringList{"...", "Eins", "Zwei"}));
    EXPECT_TRUE(main.spoken.isEmpty()) << "loading speaks nothing";
    EXPECT_EQ(task->List1(0)->currentRow(), -1);
    task->showTask();
    EXPECT_EQ(windows.snapshots, 1) << "a second show request does not load again";

    timer1().fire();
    EXPECT_TRUE(shownWhilePolling) << "the step runs before the window hides";
    EXPECT_FALSE(task->isVisible());
    EXPECT_TRUE(timer1().isActive()) << "it goes on polling unseen";
    EXPECT_EQ(main.spoken, QStringList{"..."});
    EXPECT_EQ(windows.snapshots, 2);
}

TEST_F(FtaskTest, RefreshPicksUpNewWindowsWithNumbersAsSignedDecimalText) {
    task->showTask();
    windows.add(-5, QStringLiteral("Neu"), -1);
    windows.raise(-5);
    task->Command1()->click();
    EXPECT_EQ(column(task->List1(0)), (QStringList{"-5", "10", "14"}));
    EXPECT_EQ(column(task->List1(2)), (QStringList{"-1", "111", "222"}));
    EXPECT_TRUE(main.spoken.isEmpty());
}

TEST_F(FtaskTest, ClickInOneListLinesUpAllThreeAndCopiesTheTitle) {
    windows.desktop.windows.clear();
    for (int i = 0; i < 60; ++i)
        windows.add(100 + i, QStringLiteral("Fenster %1").arg(i), 1000 + i);
    task->showTask();
    QCoreApplication::processEvents();
    QListWidget *titles = task->List1(1);
    titles->verticalScrollBar()->setValue(20);
    ASSERT_EQ(titles->verticalScrollBar()->value(), 20) << "the list must be able to scroll";
    titles->setCurrentRow(25);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(task->List1(i)->currentRow(), 25) << i;
        EXPECT_EQ(task->List1(i)->verticalScrollBar()->value(), 20) << i;
    }
    EXPECT_EQ(main.text1.text(), QStringLiteral("Fenster 25"));
    EXPECT_TRUE(main.spoken.isEmpty()) << "copying the title is not speaking it";

    // The user scrolls the handle column only, then clicks its selected row.
    QListWidget *handles = task->List1(0);
    handles->verticalScrollBar()->setValue(23);
    ASSERT_EQ(task->List1(2)->verticalScrollBar()->value(), 20);
    const QPoint at = handles->visualItemRect(handles->item(25)).center();
    const QPoint global = handles->viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(handles->viewport(), &press);
    QApplication::sendEvent(handles->viewport(), &release);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(task->List1(i)->currentRow(), 25) << i;
        EXPECT_EQ(task->List1(i)->verticalScrollBar()->value(), 23) << i;
    }

    task->List1(2)->setCurrentRow(3);
    EXPECT_EQ(task->List1(0)->currentItem()->text(), QStringLiteral("103"));
    EXPECT_EQ(main.text1.text(), QStringLiteral("Fenster 3"));
}

TEST_F(FtaskTest, UntitledDesktopOnTopSpeaksOnceOnlyAfterATitle) {
    for (const bool titledFirst : {true, false}) {
        SCOPED_TRACE(titledFirst);
        MainWindowStandIn form1;
        Ftask poller(windows, processes, timers, &form1.text1, &form1.lesemund);
        poller.showTask();
        if (titledFirst)
            poller.Command3()->click();
        poller.Option2()->click();
        poller.Check1()->click();
        // Now the desktop, without a title, is row 0.
        poller.Command3()->click();
        poller.Command3()->click();
        EXPECT_EQ(poller.List1(0)->item(0)->text(), QStringLiteral("1"));
        EXPECT_EQ(form1.text1.text(), QString());
        EXPECT_EQ(form1.spoken, titledFirst ? (QStringList{"Eins", ""}) : QStringList{});
    }
}

TEST_F(FtaskTest, EditingTheComparisonFieldPressesTheMainWindowsButton) {
    main.text1.setText(QStringLiteral("Fenstername"));
    task->Textvergleich()->setText(QStringLiteral("x"));
    task->Textvergleich()->setText(QStringLiteral("x"));
    task->Textvergleich()->setText(QStringLiteral("xy"));
    EXPECT_EQ(main.spoken, (QStringList{"Fenstername", "Fenstername"}));
}

TEST_F(FtaskTest, Command4ComparesTheComparisonFieldWithTheSelectedTitle) {
    // Presses Command4 and answers its message box; the box's text.
    const auto answer = [&] {
        QString text;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            text = box->text();
            EXPECT_EQ(box->windowTitle(), QGuiApplication::applicationDisplayName());
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            box->accept();
        });
        task->Command4()->click();
        return text;
    };
    task->showTask();
    task->Command3()->click();
    EXPECT_EQ(answer(), QStringLiteral("gleich"));
    task->List1(1)->setCurrentRow(1);
    EXPECT_EQ(answer(), QStringLiteral("nicht gleich"));
}

TEST_F(FtaskTest, TaskBeendenEndsTheSelectedProcessAndPassesUnreadableIdsAsZero) {
    task->showTask();
    task->Command2()->click();
    EXPECT_TRUE(processes.calls.isEmpty()) << "no row selected, nothing done";

    task->List1(1)->setCurrentRow(1);
    const int before = windows.snapshots;
    task->Command2()->click();
    EXPECT_EQ(processes.calls, (QStringList{"open 1 0 222", "terminate 7 1", "close 7"}));
    EXPECT_EQ(windows.snapshots, before) << "the list is not refreshed";

    const struct {
        const char *text;
        const char *pid;
    } unreadable[] = {{"", "0"}, {"abc", "0"}, {"99999999999", "0"}, {"0", "0"}, {"-1", "-1"}};
    for (const auto &u : unreadable) {
        processes.calls.clear();
        task->List1(2)->item(1)->setText(QString::fromLatin1(u.text));
        task->Command2()->click();
        EXPECT_EQ(processes.calls, (QStringList{QStringLiteral("open 1 0 ") + u.pid, "terminate 0 1", "close 0"}))
            << u.text;
    }
}

TEST_F(FtaskTest, MainWindowClosePathShowsAndStopsTheWindowBeforePressingEnde) {
    // A window that is not loaded is loaded on the way, saying nothing.
    task->closeFromMainWindow();
    EXPECT_EQ(windows.snapshots, 1);
    EXPECT_FALSE(task->isLoaded());
    EXPECT_TRUE(main.spoken.isEmpty());

    task->showTask();
    timer1().fire();
    ASSERT_FALSE(task->isVisible());
    bool visibleAtEnde = false;
    bool timerAtEnde = true;
    QObject::connect(task->Command5(), &QPushButton::pressed, [&] {
        visibleAtEnde = task->isVisible();
        timerAtEnde = timer1().isActive();
    });
    task->closeFromMainWindow();
    EXPECT_TRUE(visibleAtEnde);
    EXPECT_FALSE(timerAtEnde);
}

TEST_F(FtaskTest, EveryWayOfUnloadingStopsPollingAndAFreshLoadStartsOver) {
    const std::function<void(Ftask &)> unloads[] = {[](Ftask &t) { t.Command5()->click(); },
                                                    [](Ftask &t) { t.close(); },
                                                    [](Ftask &t) { t.closeFromMainWindow(); }};
    for (const auto &unload : unloads) {
        MainWindowStandIn form1;
        ManualTimerFactory clock;
        Ftask poller(windows, processes, clock, &form1.text1, &form1.lesemund);
        int unloadSignals = 0, unloadCalls = 0;
        QObject::connect(&poller, &Ftask::unloaded, [&] { ++unloadSignals; });
        poller.onUnload = [&] { ++unloadCalls; };
        poller.showTask();
        clock.timers().at(0)->fire();
        poller.Option2()->click();
        poller.Check1()->click();
        unload(poller);
        EXPECT_EQ(unloadSignals, 1);
        EXPECT_EQ(unloadCalls, 1);
        EXPECT_FALSE(poller.isLoaded());
        EXPECT_FALSE(poller.isVisible());
        EXPECT_FALSE(clock.timers().at(0)->isActive());

        poller.showTask();
        EXPECT_TRUE(poller.Option1()->isChecked());
        EXPECT_FALSE(poller.Check1()->isChecked());
        EXPECT_EQ(form1.spoken, QStringList{"Eins"}) << "emptying the comparison field on load says nothing";
        clock.timers().at(0)->fire();
        EXPECT_EQ(form1.spoken, (QStringList{"Eins", "Eins"})) << "the first step speaks the top title again";
    }
}

} // namespace
