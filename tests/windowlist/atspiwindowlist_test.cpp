// The window list of a Wayland desktop, read through the accessibility bus of
// a private headless Wayland session with real GTK windows.
#include "platform/atspiwindowlist.h"
#include "support/waylandsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using lesemund::platform::AtspiWindowList;
using lesemund::platform::WindowSnapshot;
using namespace lesemund::testing;

namespace {

// The list talks to the bus through Qt, which needs an application object.
QCoreApplication &application() {
    static int argc = 1;
    static char name[] = "test_windowlist";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Each window as "title pid", topmost first, framed and shown ones only, the
// way the task window lists them by default.
QStringList rows(const WindowSnapshot &s) {
    QStringList out;
    for (const auto &w : s.windows)
        if (w.visible && w.border)
            out << QStringLiteral("%1 %2").arg(w.title).arg(w.processId);
    return out;
}

QString row(const QString &title, const GtkWindows &app) { return QStringLiteral("%1 %2").arg(title).arg(app.pid()); }

bool shows(AtspiWindowList &list, const QStringList &expected) {
    return waitFor([&] { return rows(list.snapshot()) == expected; }, 10s);
}

// How long the slowest of 50 looks at the list took.
std::chrono::milliseconds slowestLook(AtspiWindowList &list) {
    qint64 slowest = 0;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        list.snapshot();
        slowest = std::max(slowest, t.elapsed());
        std::this_thread::sleep_for(20ms);
    }
    return std::chrono::milliseconds(slowest);
}

} // namespace

TEST(AtspiWindowList, FollowsWindowsTitlesAndApplicationsOfAWaylandSession) {
    application();
    WaylandSession session;
    QString error;
    ASSERT_TRUE(session.start(&error)) << qPrintable(error);
    ASSERT_FALSE(session.accessibilityOn());
    GtkWindows a;
    ASSERT_TRUE(a.start(session, &error)) << qPrintable(error);
    ASSERT_TRUE(a.open("Erstes"));
    const QString sessionBus = QString::fromUtf8(session.sessionBus());
    // Asked again only once an hour: everything after the first look comes
    // from the bus's events.
    auto events = std::make_unique<AtspiWindowList>(AtspiWindowList::Settings{sessionBus, {}, 500, 3600000, 100});
    ASSERT_TRUE(shows(*events, {row("Erstes", a)}));
    WindowSnapshot first = events->snapshot();
    EXPECT_TRUE(first.available);
    EXPECT_EQ(first.desktop.handle, 1);
    EXPECT_TRUE(first.desktop.title.isEmpty());
    EXPECT_TRUE(session.accessibilityOn()) << "switched on while the list runs";

    GtkWindows b;
    const QString retitled = QString::fromUtf8("Brief an Jörg – Entwurf"), book(70000, QChar(0x00E4));
    using Row = std::pair<QString, const GtkWindows *>;
    const struct {
        const char *what;
        std::function<bool()> act;
        std::vector<Row> expected;
    } steps[] = {
        {"a new window is active", [&] { return a.open("Zweites"); }, {{"Zweites", &a}, {"Erstes", &a}}},
        {"a dialog", [&] { return a.openDialog("Frage"); }, {{"Frage", &a}, {"Zweites", &a}, {"Erstes", &a}}},
        {"the dialog closes", [&] { return a.close("Frage"); }, {{"Zweites", &a}, {"Erstes", &a}}},
        {"a title changes", [&] { return a.retitle("Zweites", retitled); }, {{retitled, &a}, {"Erstes", &a}}},
        {"a book for a title is cut", [&] { return a.retitle(retitled, book); }, {{book.left(65536), &a}, {"Erstes", &a}}},
        {"the one below is active again", [&] { return a.close(book); }, {{"Erstes", &a}}},
        {"another application", [&] { return b.start(session) && b.open("Fremd"); }, {{"Fremd", &b}, {"Erstes", &a}}},
        {"that application quits", [&] { return b.quit(); }, {{"Erstes", &a}}},
    };
    for (const auto &step : steps) {
        ASSERT_TRUE(step.act()) << step.what;
        QStringList expected;
        for (const auto &[title, app] : step.expected)
            expected << row(title, *app);
        EXPECT_TRUE(shows(*events, expected))
            << step.what << ": " << qPrintable(rows(events->snapshot()).join(" | "));
    }
    EXPECT_EQ(events->snapshot().windows.at(0).handle, first.windows.at(0).handle) << "a window keeps its handle";
    events.reset();
    EXPECT_FALSE(session.accessibilityOn()) << "switched back off at the end";

    // A stopped application holds nobody up and is left out until it
    // answers again.
    AtspiWindowList checking(AtspiWindowList::Settings{sessionBus, {}, 300, 200, 100});
    ASSERT_TRUE(shows(checking, {row("Erstes", a)}));
    const qint64 handle = checking.snapshot().windows.at(0).handle;
    a.stopProcess();
    EXPECT_LT(slowestLook(checking), 50ms);
    EXPECT_TRUE(shows(checking, {}));
    a.continueProcess();
    EXPECT_TRUE(shows(checking, {row("Erstes", a)}));
    EXPECT_EQ(checking.snapshot().windows.at(0).handle, handle) << "the same window, not a new one";

    // The bus goes away and comes back.
    session.killAccessibilityBus();
    EXPECT_TRUE(waitFor([&] { return !checking.snapshot().available; }, 10s));
    EXPECT_LT(slowestLook(checking), 50ms);
    ASSERT_TRUE(session.restartAccessibilityBus(&error)) << qPrintable(error);
    GtkWindows c;
    ASSERT_TRUE(c.start(session, &error) && c.open("Neu")) << qPrintable(error);
    EXPECT_TRUE(shows(checking, {row("Neu", c)}));
    EXPECT_EQ(checking.connections(), 2);
}

TEST(AtspiWindowList, WithoutAnAccessibilityBusTheUserIsToldWhatHelps) {
    application();
    AtspiWindowList list(AtspiWindowList::Settings{"unix:path=/nonexistent/bus", {}, 300, 200, 100});
    ASSERT_TRUE(waitFor([&] { return !list.unreadableNotice().isEmpty(); }, 5s));
    EXPECT_TRUE(list.unreadableNotice().contains("at-spi2-core"));
    EXPECT_FALSE(list.snapshot().available);
    EXPECT_TRUE(list.snapshot().windows.empty());
}
