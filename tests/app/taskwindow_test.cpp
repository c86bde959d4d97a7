// The main window's side of the task window: Timer1 opens it, its poller
// has the topmost title spoken through the window file, Check1 closes it.
#include "support/formfixture.h"
#include "tasks/ftask.h"

#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";

// The task window's own timer is the first one created after Form1's five.
ManualTimer &pollTimer(FormFixture &f) { return *f.timers->timers().back(); }
} // namespace

TEST(TaskWindow, Timer1OpensItAndEachNewTopTitleIsSpokenOnce) {
    FormFixture f;
    Form1 &w = *f.form;
    f.windows->add(100, QString::fromUtf8("Brief an Jörg – Editor"), 4242);
    f.windows->add(200, "Rechner", 4343);
    ASSERT_EQ(w.ftask(), nullptr);
    f.timer(1).fire();
    EXPECT_FALSE(f.timer(1).isActive()) << "one shot";
    ASSERT_NE(w.ftask(), nullptr);
    EXPECT_EQ(f.timers->timers().size(), 6u);

    const auto n = f.page->clicks.size();
    pollTimer(f).fire();
    EXPECT_EQ(f.windowFile(), kDirective + "Brief an J\xF6rg \x96 Editor\r\n");
    EXPECT_EQ(f.page->clicks.mid(n), QStringList{"fenster1"});
    EXPECT_TRUE(w.ftask()->isHidden()) << "the first tick hides the window";

    pollTimer(f).fire(); // same window on top: nothing said
    EXPECT_EQ(f.page->clicks.size(), n + 1);

    f.windows->raise(200);
    pollTimer(f).fire();
    EXPECT_EQ(f.windowFile(), kDirective + "Rechner\r\n");
    EXPECT_EQ(f.page->clicks.size(), n + 2);
}

TEST(TaskWindow, SwitchingCheck1OffUnloadsItAndOnAgainStartsTimer1) {
    FormFixture f;
    Form1 &w = *f.form;
    f.windows->add(100, "Eins");
    f.timer(1).fire();
    ASSERT_NE(w.ftask(), nullptr);
    w.Check1->setValue(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(w.ftask(), nullptr);
    w.Check1->setValue(1);
    EXPECT_TRUE(f.timer(1).isActive());
    f.timer(1).fire();
    ASSERT_NE(w.ftask(), nullptr);
    // A fresh window speaks the topmost title again.
    const auto n = f.page->clicks.size();
    pollTimer(f).fire();
    EXPECT_EQ(f.page->clicks.mid(n), QStringList{"fenster1"});
}

TEST(TaskWindow, SwitchedOffBeforeTimer1FiresNoWindowIsLeft) {
    FormFixture f;
    f.form->Check1->setValue(0);
    f.form->Check1->setValue(1);
    f.form->Check1->setValue(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(f.timer(1).isActive());
    EXPECT_EQ(f.form->ftask(), nullptr);
}

TEST(TaskWindow, Command10ShowsItWithoutBlocking) {
    FormFixture f;
    f.form->Command10->click();
    ASSERT_NE(f.form->ftask(), nullptr);
    EXPECT_TRUE(f.form->ftask()->isVisible());
    EXPECT_FALSE(f.form->ftask()->isModal());
}
