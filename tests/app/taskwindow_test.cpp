// The main window's side of the task window: Timer1 opens it, its poller has
// the topmost title spoken through the window file, Check1 closes it.
#include "platform/atspiwindowlist.h"
#include "platform/linuxprocesscontrol.h"
#include "support/formfixture.h"
#include "support/waylandsession.h"
#include "tasks/ftask.h"

#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(TaskWindow, Timer1OpensItCheck1ClosesItAndEachNewTopTitleIsSpokenOnce) {
    lesemund::testing::FormFixture f;
    f.windows->add(100, QString::fromUtf8("Brief an Jörg – Editor"));
    f.windows->add(200, "Rechner");
    f.form->Check1->setValue(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(f.form->ftask(), nullptr) << "switched off before Timer1 fires, no window is left";
    f.form->Check2->setValue(0);
    f.form->Check1->setValue(1);
    f.windows->notice = "Kein Bus.";
    f.timer(1).fire();
    EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#Kein Bus.") << "said with the buttons unannounced";
    f.windows->notice = "Noch einmal.";
    f.form->Command10->click();
    EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#Kein Bus.") << "said once";
    EXPECT_FALSE(f.timer(1).isActive()) << "one shot";
    ASSERT_NE(f.form->ftask(), nullptr);
    for (int i = 0; i < 2; ++i)
        f.timers->timers().back()->fire();
    EXPECT_EQ(f.windowFile(), "#voice=name:qvx.de.tonra#Brief an J\xF6rg \x96 Editor\r\n");
    EXPECT_EQ(f.page->clicks.count("fenster1"), 1) << "the same window twice is spoken once";
    f.form->Check1->setValue(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(f.form->ftask(), nullptr);
    std::swap(f.windows->desktop.windows[0], f.windows->desktop.windows[1]);
    f.form->Command10->click();
    f.form->Command10->click();
    EXPECT_EQ(f.timers->timers().size(), 6u) << "a second show request keeps the window";
    EXPECT_TRUE(f.form->ftask()->isVisible() && !f.form->ftask()->isModal());
    f.timers->timers().back()->fire();
    EXPECT_EQ(f.windowFile(), "#voice=name:qvx.de.tonra#Rechner\r\n");
    EXPECT_EQ(f.page->clicks.count("fenster1"), 2) << "a fresh window speaks the top title";
}

// On a Wayland desktop, read through the accessibility bus with real GTK
// windows: the active title is spoken once, a new title too, and "Task
// beenden" ends the process of the selected row, and only that one.
TEST(TaskWindow, OnAWaylandDesktopTheActiveTitleIsSpokenAndTaskBeendenEndsItsProcess) {
    using namespace std::chrono_literals;
    using namespace lesemund::testing;
    WaylandSession session;
    GtkWindows notes, calculator;
    QString error;
    ASSERT_TRUE(session.start(&error) && notes.start(session, &error) && calculator.start(session, &error))
        << qPrintable(error);
    ASSERT_TRUE(notes.open("Notizen") && calculator.open(QString::fromUtf8("Rechner – Jörg")));
    auto list = std::make_shared<lesemund::platform::AtspiWindowList>(
        lesemund::platform::AtspiWindowList::Settings{QString::fromUtf8(session.sessionBus()), {}, 500, 500, 100});
    // Polling starts once the list has found both windows.
    ASSERT_TRUE(waitFor([&] { return list->snapshot().windows.size() >= 2; }, 10s));
    FormFixture f(true, [&](lesemund::platform::Services &s) {
        s.windows = list;
        s.processes = std::make_shared<lesemund::platform::LinuxProcessControl>();
    });
    f.form->Check1->setValue(1);
    f.timer(1).fire();
    // The poller's 200 ms steps, fired by hand until `file` has been spoken.
    auto spoken = [&](const QByteArray &title) {
        return waitFor(
            [&] {
                f.timers->timers().back()->fire();
                return f.windowFile() == "#voice=name:qvx.de.tonra#" + title + "\r\n";
            },
            10s);
    };
    EXPECT_TRUE(spoken("Rechner \x96 J\xF6rg"));
    for (int i = 0; i < 5; ++i)
        f.timers->timers().back()->fire();
    EXPECT_EQ(f.page->clicks.count("fenster1"), 1) << "the same window is spoken once";
    ASSERT_TRUE(calculator.retitle(QString::fromUtf8("Rechner – Jörg"), "Rechner 2"));
    EXPECT_TRUE(spoken("Rechner 2"));
    EXPECT_EQ(f.page->clicks.count("fenster1"), 2);

    lesemund::Ftask *task = f.form->ftask();
    ASSERT_NE(task, nullptr);
    task->RefreshWindowList();
    const auto found = task->List1(1)->findItems("Rechner 2", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    task->List1(1)->setCurrentItem(found.at(0));
    EXPECT_EQ(task->List1(2)->currentItem()->text().toInt(), calculator.pid());
    task->Command2()->click();
    EXPECT_TRUE(calculator.ended(5s));
    EXPECT_FALSE(notes.ended(0s)) << "the other program lives on";
    EXPECT_TRUE(spoken("Notizen")) << "its window left the list";
}
