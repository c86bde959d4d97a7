// The main window's side of the task window: Timer1 opens it, its poller has
// the topmost title spoken through the window file, Check1 closes it.
#include "support/formfixture.h"
#include "tasks/ftask.h"

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
