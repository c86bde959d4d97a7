// The private Wayland session the accessibility bus's window list is tested
// in: two GTK applications, the shell activating windows as a desktop does,
// and an accessibility bus that can crash and come back.
#include "support/waylandsession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

using namespace lesemund::testing;

namespace {

TEST(WaylandSession, WindowsOnTheAccessibilityBus) {
    // The test's own desktop stays out of the session.
    const struct Own {
        QByteArray name, old = qgetenv(name);
        ~Own() { old.isNull() ? qunsetenv(name) : qputenv(name, old); }
    } display{"DISPLAY"}, bus{"AT_SPI_BUS_ADDRESS"};
    qputenv("DISPLAY", ":4711");
    qputenv("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent");
    WaylandSession session;
    QString error;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.start(&error)) << error.toStdString();
    std::cout << "session started in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count() << " ms\n";
    const QByteArray runtime = session.runtimeDir();
    struct stat folder{};
    ASSERT_EQ(::stat(runtime, &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    const std::vector<QByteArray> env = session.environment();
    EXPECT_TRUE(std::ranges::count(env, "XDG_RUNTIME_DIR=" + runtime) && std::ranges::count(env, "XDG_SESSION_TYPE=wayland"));
    EXPECT_FALSE(std::ranges::any_of(env, [](const QByteArray &e) { return e.startsWith("DISPLAY=") || e.startsWith("AT_SPI_BUS_ADDRESS="); }));

    GtkWindows first, second;
    ASSERT_TRUE(first.start(session, &error)) << error.toStdString();
    ASSERT_TRUE(second.start(session, &error)) << error.toStdString();
    const qint64 one = first.pid(), two = second.pid();
    using Windows = std::vector<AccessibleWindow>;
    Windows shown;
    const auto shows = [&](const Windows &expected) {
        waitFor([&] { return (shown = accessibleWindows(session.accessibilityConnection()).value_or(shown)) == expected; },
                std::chrono::seconds(5));
        return shown;
    };
    ASSERT_TRUE(first.open("Eins") && second.open("Zwei") && second.openDialog("Grüße"));
    EXPECT_FALSE(second.close("Keines")); // no such window: an answer, not a hang
    // The newest window is the active one (23 a frame, 16 a dialog).
    const Windows opened = {{"Eins", false, 23, one}, {"Zwei", false, 23, two}, {"Grüße", true, 16, two}};
    EXPECT_EQ(shows(opened), opened);
    // Closing the active window activates the one below it, then the one in the other application.
    const Windows closed = {{"Eins", false, 23, one}, {"Zwei", true, 23, two}}, renamed = {{"Eins – neu", true, 23, one}};
    ASSERT_TRUE(second.close("Grüße"));
    EXPECT_EQ(shows(closed), closed);
    ASSERT_TRUE(second.close("Zwei") && first.retitle("Eins", "Eins – neu"));
    EXPECT_EQ(shows(renamed), renamed);

    // The accessibility bus crashes: nothing answers. Restarted, it has a registry again and the applications started
    // since; GTK's bridge does not bring the older ones over to the new bus.
    const QByteArray oldBus = session.accessibilityBus();
    session.killAccessibilityBus();
    EXPECT_FALSE(accessibleWindows(QDBusConnection::connectToBus(QString::fromLatin1(oldBus), "lesemund-old-a11y")));
    QDBusConnection::disconnectFromBus("lesemund-old-a11y");
    ASSERT_TRUE(session.restartAccessibilityBus(&error)) << error.toStdString();
    GtkWindows third;
    ASSERT_TRUE(third.start(session, &error) && third.open("Drei")) << error.toStdString();
    const Windows drei = {{"Drei", true, 23, third.pid()}};
    EXPECT_EQ(shows(drei), drei);
    EXPECT_TRUE(third.quit());
    EXPECT_EQ(shows({}), Windows{});
}

} // namespace
