// The task window on a desktop the test writes by hand.
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "taskstesting.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

using lesemund::Ftask;
using lesemund::testing::FakeProcessControl;
using lesemund::testing::FakeWindowList;
using lesemund::testing::MainWindowStandIn;
using lesemund::testing::ManualTimer;
using lesemund::testing::ManualTimerFactory;

namespace {

QStringList column(const QListWidget *list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

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
        QObject::connect(task.get(), &Ftask::unloaded, [this] { ++unloadSignals; });
        task->onUnload = [this] { ++unloadCalls; };
    }

    ManualTimer &timer1() { return *timers.timers().at(0); }

    // Runs `press` and answers the message box it opens; the box's text.
    QString messageFrom(const std::function<void()> &press, QString *title = nullptr) {
        QString text;
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box) {
                seen = true;
                text = box->text();
                if (title)
                    *title = box->windowTitle();
                EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
                box->accept();
            }
        });
        // Should the box not show up as modal, do not hang.
        QTimer::singleShot(2000, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w))
                    box->reject();
        });
        press();
        EXPECT_TRUE(seen);
        return text;
    }

    lesemund::testing::ApplicationPresent application;
    FakeWindowList windows;
    FakeProcessControl processes;
    ManualTimerFactory timers;
    MainWindowStandIn main;
    std::unique_ptr<Ftask> task;
    int unloadSignals = 0;
    int unloadCalls = 0;
};

// --- the window and its controls ---------------------------------------------

TEST_F(FtaskTest, ControlsAsDesigned) {
    EXPECT_EQ(task->windowTitle(), QStringLiteral("..."));
    EXPECT_EQ(task->Label1()->text(), QStringLiteral("hWnd"));
    EXPECT_EQ(task->Label2()->text(), QStringLiteral("Titel"));
    EXPECT_EQ(task->Label3()->text(), QStringLiteral("Prozess ID"));
    EXPECT_EQ(task->Command1()->text(), QStringLiteral("Refresh"));
    EXPECT_EQ(task->Command2()->text(), QStringLiteral("Task beenden"));
    EXPECT_EQ(task->Command3()->text(), QStringLiteral("Aktives Fenster Sprechen"));
    EXPECT_EQ(task->Command4()->text(), QStringLiteral("Command4"));
    EXPECT_EQ(task->Command5()->text(), QStringLiteral("Ende"));
    EXPECT_EQ(task->Option1()->text(), QStringLiteral("Sichtbare"));
    EXPECT_EQ(task->Option2()->text(), QStringLiteral("Alle"));
    EXPECT_EQ(task->Check1()->text(), QStringLiteral("Auch Titellose"));
    EXPECT_TRUE(task->Option1()->isChecked());
    EXPECT_FALSE(task->Option2()->isChecked());
    EXPECT_FALSE(task->Check1()->isChecked());
    EXPECT_TRUE(task->Textvergleich()->text().isEmpty());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(task->List1(i)->count(), 0);

    for (const char *name : {"Label1", "Label2", "Label3", "Command1", "Command2", "Command3", "Command4", "Command5",
                             "Option1", "Option2", "Check1", "Textvergleich", "List1_0", "List1_1", "List1_2"})
        EXPECT_NE(task->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(task->findChild<QWidget *>(QStringLiteral("List1_2")), task->List1(2));
    EXPECT_EQ(task->objectName(), QStringLiteral("Ftask"));
}

TEST_F(FtaskTest, TabOrderAsDesigned) {
    const QList<QWidget *> expected = {task->List1(0),  task->Command1(), task->List1(1),      task->Option1(),
                                       task->Option2(), task->List1(2),   task->Check1(),      task->Command2(),
                                       task->Command3(), task->Textvergleich(), task->Command4(), task->Command5()};
    QList<QWidget *> seen;
    QWidget *w = task->List1(0);
    for (int steps = 0; steps < 500 && seen.size() < expected.size(); ++steps) {
        if (expected.contains(w) && !seen.contains(w))
            seen << w;
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(task->Label1()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(task->Label2()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(task->Label3()->focusPolicy(), Qt::NoFocus);
}

TEST_F(FtaskTest, TitlesLeftHandlesMiddleProcessIdsRight) {
    task->show();
    QCoreApplication::processEvents();
    EXPECT_LT(task->List1(1)->x(), task->List1(0)->x());
    EXPECT_LT(task->List1(0)->x(), task->List1(2)->x());
    EXPECT_EQ(task->Label2()->x(), task->List1(1)->x());
    EXPECT_EQ(task->Label1()->x(), task->List1(0)->x());
    EXPECT_EQ(task->Label3()->x(), task->List1(2)->x());
    EXPECT_LT(task->Label2()->y(), task->List1(1)->y());
}

// --- loading, showing and the list --------------------------------------------

TEST_F(FtaskTest, NothingHappensBeforeTheFirstShowRequest) {
    EXPECT_FALSE(task->isLoaded());
    EXPECT_EQ(timer1().interval(), 200);
    EXPECT_FALSE(timer1().isActive());
    EXPECT_EQ(windows.snapshots, 0);
    EXPECT_FALSE(task->isVisible());
}

TEST_F(FtaskTest, ShowRequestLoadsListsAndStartsTimer) {
    task->showTask();
    EXPECT_TRUE(task->isLoaded());
    EXPECT_TRUE(task->isVisible());
    EXPECT_TRUE(timer1().isActive());
    EXPECT_EQ(windows.snapshots, 1);
    // "Sichtbare" without "Auch Titellose": visible, framed and titled only;
    // the desktop has no title and no frame.
    EXPECT_EQ(column(task->List1(0)), (QStringList{"10", "14"}));
    EXPECT_EQ(column(task->List1(1)), (QStringList{"Eins", "Zwei"}));
    EXPECT_EQ(column(task->List1(2)), (QStringList{"111", "222"}));
    // Loading speaks nothing and selects nothing.
    EXPECT_TRUE(main.spoken.isEmpty());
    EXPECT_EQ(task->List1(0)->currentRow(), -1);
    // A second show request does not load again.
    task->showTask();
    EXPECT_EQ(windows.snapshots, 1);
}

TEST_F(FtaskTest, FiltersRefreshTheList) {
    task->showTask();
    task->Option2()->click(); // "Alle"
    EXPECT_EQ(column(task->List1(0)), (QStringList{"10", "11", "12", "14"}));
    task->Check1()->click(); // "Auch Titellose"
    EXPECT_EQ(column(task->List1(0)), (QStringList{"1", "10", "11", "12", "13", "14"}));
    EXPECT_EQ(column(task->List1(1)), (QStringList{"", "Eins", "Versteckt", "Leiste", "", "Zwei"}));
    EXPECT_EQ(column(task->List1(2)), (QStringList{"0", "111", "112", "113", "114", "222"}));
    task->Option1()->click(); // "Sichtbare", titleless still on
    EXPECT_EQ(column(task->List1(0)), (QStringList{"10", "13", "14"}));
    const int before = windows.snapshots;
    task->Check1()->setChecked(false); // from code too, as a change
    EXPECT_EQ(windows.snapshots, before + 1);
    EXPECT_EQ(column(task->List1(0)), (QStringList{"10", "14"}));
}

TEST_F(FtaskTest, RefreshPicksUpNewWindows) {
    task->showTask();
    windows.add(15, QStringLiteral("Neu"), 333);
    windows.raise(15);
    task->Command1()->click();
    EXPECT_EQ(column(task->List1(1)), (QStringList{"Neu", "Eins", "Zwei"}));
    EXPECT_TRUE(main.spoken.isEmpty());
}

TEST_F(FtaskTest, NumbersAreSignedDecimalText) {
    windows.desktop.windows.clear();
    windows.add(-5, QStringLiteral("Negativ"), -1);
    windows.add(4294967295LL, QStringLiteral("Gross"), 2147483647);
    task->showTask();
    EXPECT_EQ(column(task->List1(0)), (QStringList{"-5", "4294967295"}));
    EXPECT_EQ(column(task->List1(2)), (QStringList{"-1", "2147483647"}));
}

TEST_F(FtaskTest, OddTitlesAreListedAsTheyCome) {
    windows.desktop.windows.clear();
    const QString long10k = QString(10240, QChar(u'ü'));
    windows.add(20, long10k, 1);
    windows.add(21, QStringLiteral("Zeile\nzwei\t\u20AC\uFFFD"), 2);
    task->showTask();
    task->Command3()->click();
    EXPECT_EQ(column(task->List1(1)), (QStringList{long10k, QStringLiteral("Zeile\nzwei\t\u20AC\uFFFD")}));
    EXPECT_EQ(main.text1.text(), long10k);
    EXPECT_EQ(main.spoken, QStringList{long10k});
}

// --- the list click ------------------------------------------------------------

TEST_F(FtaskTest, SelectingARowSelectsItInAllListsAndCopiesTheTitle) {
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
    // Copying the title is not speaking it.
    EXPECT_TRUE(main.spoken.isEmpty());

    task->List1(2)->setCurrentRow(3);
    EXPECT_EQ(task->List1(0)->currentItem()->text(), QStringLiteral("103"));
    EXPECT_EQ(task->List1(1)->currentRow(), 3);
    EXPECT_EQ(main.text1.text(), QStringLiteral("Fenster 3"));
}

TEST_F(FtaskTest, MouseClickOnTheSelectedRowLinesTheListsUp) {
    windows.desktop.windows.clear();
    for (int i = 0; i < 60; ++i)
        windows.add(100 + i, QStringLiteral("Fenster %1").arg(i), 1000 + i);
    task->showTask();
    QCoreApplication::processEvents();
    task->List1(0)->setCurrentRow(12);
    // The user scrolls the handle column only, then clicks its selected row.
    QListWidget *handles = task->List1(0);
    task->List1(2)->verticalScrollBar()->setValue(0);
    handles->verticalScrollBar()->setValue(10);
    ASSERT_EQ(handles->verticalScrollBar()->value(), 10);
    ASSERT_EQ(task->List1(2)->verticalScrollBar()->value(), 0);
    const QPoint at = handles->visualItemRect(handles->item(12)).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, handles->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, handles->viewport()->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(handles->viewport(), &press);
    QApplication::sendEvent(handles->viewport(), &release);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(task->List1(i)->currentRow(), 12) << i;
        EXPECT_EQ(task->List1(i)->verticalScrollBar()->value(), 10) << i;
    }
    EXPECT_EQ(main.text1.text(), QStringLiteral("Fenster 12"));
}

// --- the polling step -----------------------------------------------------------

TEST_F(FtaskTest, PollingStepSpeaksTheTopTitleOnlyWhenItChanges) {
    task->showTask();
    task->Command3()->click();
    EXPECT_EQ(main.text1.text(), QStringLiteral("Eins"));
    EXPECT_EQ(task->Textvergleich()->text(), QStringLiteral("Eins"));
    EXPECT_EQ(main.spoken, QStringList{"Eins"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(task->List1(i)->currentRow(), 0) << i;

    task->Command3()->click();
    EXPECT_EQ(main.spoken, QStringList{"Eins"}) << "the same window twice speaks once";

    windows.raise(14);
    task->Command3()->click();
    windows.raise(10);
    task->Command3()->click();
    task->Command3()->click();
    EXPECT_EQ(main.spoken, (QStringList{"Eins", "Zwei", "Eins"}));
}

TEST_F(FtaskTest, TimerTickPollsAndHidesTheWindow) {
    task->showTask();
    ASSERT_TRUE(task->isVisible());
    timer1().fire();
    EXPECT_FALSE(task->isVisible());
    EXPECT_TRUE(timer1().isActive()) << "it goes on polling unseen";
    EXPECT_TRUE(task->isLoaded());
    EXPECT_EQ(main.spoken, QStringList{"Eins"});
    timer1().fire();
    timer1().fire();
    EXPECT_EQ(main.spoken, QStringList{"Eins"});
    windows.raise(14);
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{"Eins", "Zwei"}));
    EXPECT_EQ(windows.snapshots, 5);
}

TEST_F(FtaskTest, EmptyTopTitleSpeaksOnceThenNothing) {
    task->showTask();
    timer1().fire();
    ASSERT_EQ(main.spoken, QStringList{"Eins"});
    task->Option2()->click();
    task->Check1()->click();
    // Now the desktop, without a title, is row 0.
    timer1().fire();
    EXPECT_EQ(main.text1.text(), QString());
    EXPECT_EQ(main.spoken, (QStringList{"Eins", ""}));
    timer1().fire();
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{"Eins", ""}));
}

TEST_F(FtaskTest, EmptyTopTitleOnAFreshWindowSaysNothing) {
    task->showTask();
    task->Option2()->click();
    task->Check1()->click();
    timer1().fire();
    timer1().fire();
    EXPECT_TRUE(main.spoken.isEmpty());
    EXPECT_EQ(task->List1(0)->item(0)->text(), QStringLiteral("1"));
}

TEST_F(FtaskTest, EditingTheComparisonFieldPressesTheMainWindowsButton) {
    main.text1.setText(QStringLiteral("Fenstername"));
    task->Textvergleich()->setText(QStringLiteral("x"));
    task->Textvergleich()->setText(QStringLiteral("x"));
    task->Textvergleich()->setText(QStringLiteral("xy"));
    EXPECT_EQ(main.spoken, (QStringList{"Fenstername", "Fenstername"}));
}

TEST_F(FtaskTest, LostDesktopEmptiesTheListWithoutFailing) {
    task->showTask();
    timer1().fire();
    ASSERT_EQ(main.spoken, QStringList{"Eins"});
    windows.desktop = {}; // no window system any more
    timer1().fire();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(task->List1(i)->count(), 0);
    // The comparison field empties, which presses "Text Lesen" once; the
    // window-name field keeps the last title it was given.
    EXPECT_EQ(task->Textvergleich()->text(), QString());
    EXPECT_EQ(main.spoken, (QStringList{"Eins", "Eins"}));
    timer1().fire();
    timer1().fire();
    EXPECT_EQ(main.spoken.size(), 2);
    EXPECT_TRUE(timer1().isActive());
}

TEST_F(FtaskTest, WorksWithoutTheMainWindowsControls) {
    Ftask alone(windows, processes, timers, nullptr, nullptr);
    alone.showTask();
    alone.Command3()->click();
    alone.List1(1)->setCurrentRow(1);
    EXPECT_EQ(alone.Textvergleich()->text(), QStringLiteral("Eins"));
    EXPECT_EQ(alone.List1(0)->currentRow(), 1);
}

// --- Command4 -------------------------------------------------------------------

TEST_F(FtaskTest, CompareReportsEqualRightAfterAPollingStep) {
    task->showTask();
    task->Command3()->click();
    QString title;
    EXPECT_EQ(messageFrom([&] { task->Command4()->click(); }, &title), QStringLiteral("gleich"));
    EXPECT_EQ(title, QGuiApplication::applicationDisplayName());
    task->List1(1)->setCurrentRow(1);
    EXPECT_EQ(messageFrom([&] { task->Command4()->click(); }), QStringLiteral("nicht gleich"));
}

// --- "Task beenden" -------------------------------------------------------------

TEST_F(FtaskTest, EndTaskWithoutSelectionDoesNothing) {
    task->showTask();
    task->Command2()->click();
    EXPECT_TRUE(processes.calls.isEmpty());
}

TEST_F(FtaskTest, EndTaskEndsTheSelectedProcessAndKeepsTheList) {
    task->showTask();
    task->List1(1)->setCurrentRow(1);
    const int before = windows.snapshots;
    task->Command2()->click();
    EXPECT_EQ(processes.calls, (QStringList{"open 1 0 222", "terminate 7 1", "close 7"}));
    EXPECT_EQ(windows.snapshots, before) << "the list is not refreshed";
    EXPECT_EQ(task->List1(1)->count(), 2);
}

TEST_F(FtaskTest, EndTaskWithUnreadableIdOpensNothing) {
    task->showTask();
    task->List1(2)->setCurrentRow(0);
    for (const QString &text : {QString(), QStringLiteral("abc"), QStringLiteral("99999999999"),
                                QStringLiteral("0"), QStringLiteral("-1")}) {
        processes.calls.clear();
        task->List1(2)->item(0)->setText(text);
        task->Command2()->click();
        const QString pid = text == QStringLiteral("-1") ? text : QStringLiteral("0");
        EXPECT_EQ(processes.calls, (QStringList{"open 1 0 " + pid, "terminate 0 1", "close 0"})) << text.toStdString();
    }
}

// --- closing and loading again --------------------------------------------------

TEST_F(FtaskTest, MainWindowClosePathShowsStopsAndPressesEnde) {
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
    EXPECT_FALSE(task->isVisible());
    EXPECT_FALSE(task->isLoaded());
    EXPECT_FALSE(timer1().isActive());
    EXPECT_EQ(unloadSignals, 1);
    EXPECT_EQ(unloadCalls, 1);
    const int polls = windows.snapshots;
    timer1().fire();
    EXPECT_EQ(windows.snapshots, polls) << "an unloaded window does not poll";
}

TEST_F(FtaskTest, MainWindowClosePathLoadsAWindowThatIsNotLoaded) {
    task->closeFromMainWindow();
    EXPECT_EQ(windows.snapshots, 1);
    EXPECT_EQ(unloadSignals, 1);
    EXPECT_FALSE(task->isLoaded());
    EXPECT_FALSE(timer1().isActive());
    EXPECT_TRUE(main.spoken.isEmpty());
}

TEST_F(FtaskTest, EndeUnloadsAndAFreshLoadStartsFromDesignState) {
    task->showTask();
    timer1().fire();
    task->Option2()->click();
    task->Check1()->click();
    task->Command5()->click();
    EXPECT_EQ(unloadSignals, 1);
    EXPECT_FALSE(timer1().isActive());
    ASSERT_EQ(main.spoken, QStringList{"Eins"});

    task->showTask();
    EXPECT_TRUE(task->Option1()->isChecked());
    EXPECT_FALSE(task->Check1()->isChecked());
    EXPECT_EQ(main.spoken, QStringList{"Eins"}) << "emptying the comparison field on load says nothing";
    timer1().fire();
    EXPECT_EQ(main.spoken, (QStringList{"Eins", "Eins"})) << "the first step speaks the top title again";
}

TEST_F(FtaskTest, ClosingTheWindowUnloadsIt) {
    task->showTask();
    task->close();
    EXPECT_EQ(unloadSignals, 1);
    EXPECT_FALSE(timer1().isActive());
}

} // namespace
