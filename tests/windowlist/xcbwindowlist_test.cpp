// The X11 window list against a private Xvfb. No window manager runs there,
// so the window tree is the source unless a test plays the manager's part by
// putting the stacking list and the check window on the root itself.
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>

#include <chrono>
#include <thread>
#include <unistd.h>

using namespace lesemund::platform;
using namespace lesemund::testing;

namespace {

const WindowInfo *find(const WindowSnapshot &s, xcb_window_t w) {
    for (const WindowInfo &info : s.windows)
        if (info.handle == static_cast<qint64>(w))
            return &info;
    return nullptr;
}

// The titles of the snapshot's windows, topmost first.
QStringList titles(const WindowSnapshot &s) {
    QStringList result;
    for (const WindowInfo &info : s.windows)
        result << info.title;
    return result;
}

XcbWindowList::Settings settingsFor(const XvfbServer &server) {
    XcbWindowList::Settings settings;
    settings.display = server.displayName();
    settings.reconnectIntervalMs = 100;
    return settings;
}

XvfbServer &sharedServer() { return lesemund::testing::sharedXvfbServer(140); }

class XcbWindowListTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.ok()) << "no Xvfb"; }
    void TearDown() override {
        client.deleteProperty(client.root(), "_NET_CLIENT_LIST_STACKING");
        client.deleteProperty(client.root(), "_NET_SUPPORTING_WM_CHECK");
    }

    WindowSnapshot snap() {
        WindowSnapshot s = list.snapshot();
        EXPECT_TRUE(s.available);
        return s;
    }

    // A check window naming the manager; it points at itself when `alive`,
    // else it is destroyed again, as a crashed manager leaves it.
    void playWindowManager(const std::vector<xcb_window_t> &bottomUp, bool alive = true) {
        XcbTestClient::Options hidden;
        hidden.map = false;
        const xcb_window_t check = client.createWindow({}, hidden);
        client.setWindows(check, "_NET_SUPPORTING_WM_CHECK", {check});
        client.setWindows(client.root(), "_NET_SUPPORTING_WM_CHECK", {check});
        client.setWindows(client.root(), "_NET_CLIENT_LIST_STACKING", bottomUp);
        if (!alive)
            client.destroy(check);
    }

    XcbTestClient client{sharedServer().displayName()};
    XcbWindowList list{settingsFor(sharedServer())};
};

TEST_F(XcbWindowListTest, TitlesAsTheWindowsGiveThem) {
    const auto named = [&](const QByteArray &netWmName) {
        const xcb_window_t w = client.createWindow({});
        client.setNetWmName(w, netWmName);
        return w;
    };
    const auto wmName = [&](const QByteArray &bytes, const char *type) {
        const xcb_window_t w = client.createWindow({});
        client.setWmName(w, bytes, type);
        return w;
    };
    // 1 + 2 * 40000 bytes: the 64 KB limit falls inside an "ä".
    const QString overlong = QStringLiteral("a") + QString(40000, QChar(0xE4));
    const xcb_window_t both = client.createWindow("Alter Name");
    client.setNetWmName(both, QStringLiteral("Neuer Name äöü").toUtf8());
    const xcb_window_t emptyNet = client.createWindow("Ersatz");
    client.setNetWmName(emptyNet, QByteArray());

    const struct {
        xcb_window_t window;
        QString title;
    } cases[] = {
        {both, QStringLiteral("Neuer Name äöü")},
        {emptyNet, QStringLiteral("Ersatz")},
        {client.createWindow(QByteArray("Gr\xfc\xdf" "e")), QStringLiteral("Grüße")},
        {wmName(QStringLiteral("Maß").toUtf8(), "UTF8_STRING"), QStringLiteral("Maß")},
        {wmName(QByteArray("Gr\xfc\xdf" "e \x1b-A" "da"), "COMPOUND_TEXT"), QStringLiteral("Grüße da")},
        {client.createWindow({}), QString()},
        // Bytes that are not UTF-8 are read as Windows-1252.
        {named("Caf\xe9 \x80 \xff\xfe"), QStringLiteral("Café € ÿþ")},
        {named("abc\xe2\x82"), QStringLiteral("abcâ‚")},
        {named(QByteArray("Eins\0Zwei", 9)), QStringLiteral("Eins")},
        {named(overlong.toUtf8()), overlong.left(32768)},
    };
    const WindowSnapshot s = snap();
    for (const auto &c : cases) {
        const WindowInfo *info = find(s, c.window);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->title, c.title) << c.title.left(40).toStdString();
    }
}

TEST_F(XcbWindowListTest, VisibleAndBorderBits) {
    const auto typed = [&](const char *title, std::vector<const char *> types) {
        const xcb_window_t w = client.createWindow(title);
        client.setWindowType(w, types);
        return w;
    };
    XcbTestClient::Options unmapped, override, inputOnly;
    unmapped.map = false;
    override.overrideRedirect = true;
    inputOnly.inputOnly = true;
    const xcb_window_t frameless = client.createWindow("Rahmenlos");
    client.setNoDecorations(frameless);

    const struct {
        xcb_window_t window;
        bool visible, border;
    } cases[] = {
        {client.createWindow("Normal"), true, true},
        {client.createWindow("Versteckt", unmapped), false, true},
        {typed("Dialog", {"_NET_WM_WINDOW_TYPE_DIALOG"}), true, true},
        {typed("Werkzeug", {"_NET_WM_WINDOW_TYPE_UTILITY"}), true, true},
        {typed("Leiste", {"_NET_WM_WINDOW_TYPE_DOCK"}), true, false},
        {typed("Tipp", {"_NET_WM_WINDOW_TYPE_TOOLTIP"}), true, false},
        {typed("Menü", {"_LESEMUND_TEST_TYPE", "_NET_WM_WINDOW_TYPE_POPUP_MENU"}), true, false},
        {typed("Unbekannt", {"_LESEMUND_TEST_TYPE"}), true, true},
        {client.createWindow("Aufklapper", override), true, false},
        {client.createWindow("Glas", inputOnly), true, false},
        {frameless, true, false},
    };
    const WindowSnapshot s = snap();
    for (const auto &c : cases) {
        const WindowInfo *info = find(s, c.window);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->visible, c.visible) << info->title.toStdString();
        EXPECT_EQ(info->border, c.border) << info->title.toStdString();
    }
}

TEST_F(XcbWindowListTest, ProcessIdFromNetWmPidOfThisMachineOnly) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const struct {
        uint32_t netWmPid;
        QByteArray machine;
        qint32 processId;
    } cases[] = {{4242, {}, 4242}, {4343, host, 4343}, {4444, "anderer-rechner.example", 0},
                 {0, {}, 0}, {0xFFFFFFFFu, {}, -1}};
    for (const auto &c : cases) {
        const xcb_window_t w = client.createWindow("Fenster");
        if (c.netWmPid)
            client.setPid(w, c.netWmPid);
        if (!c.machine.isEmpty())
            client.setClientMachine(w, c.machine);
        EXPECT_EQ(find(snap(), w)->processId, c.processId) << c.netWmPid;
    }
}

TEST_F(XcbWindowListTest, StackingListOfALiveManagerOnlyIsUsed) {
    const xcb_window_t a = client.createWindow("Verwaltet A");
    const xcb_window_t b = client.createWindow("Verwaltet B");
    client.createWindow("Nicht verwaltet");
    const QStringList tree = {"Nicht verwaltet", "Verwaltet B", "Verwaltet A"};
    // Bottom to top: b, then a on top, unlike the tree's order.
    client.setWindows(client.root(), "_NET_CLIENT_LIST_STACKING", {b, a});
    EXPECT_EQ(titles(snap()), tree) << "no check window";
    playWindowManager({b, a}, /*alive*/ false);
    EXPECT_EQ(titles(snap()), tree) << "the manager has gone";
    playWindowManager({b, a});
    EXPECT_EQ(titles(snap()), (QStringList{"Verwaltet A", "Verwaltet B"}));
}

TEST_F(XcbWindowListTest, WindowThatVanishedGivesAnEmptyRowInItsPlace) {
    const xcb_window_t a = client.createWindow("Bleibt unten");
    const xcb_window_t gone = client.createWindow("Verschwindet");
    client.setPid(gone, 777);
    const xcb_window_t c = client.createWindow("Bleibt oben");
    client.setPid(c, 778);
    client.destroy(gone);
    // The manager's list still names the window that is no more.
    playWindowManager({a, gone, c});
    const WindowSnapshot s = snap();
    EXPECT_EQ(titles(s), (QStringList{"Bleibt oben", "", "Bleibt unten"}));
    ASSERT_EQ(s.windows.size(), 3u);
    EXPECT_EQ(s.windows[0].processId, 778);
    EXPECT_EQ(s.windows[1].handle, static_cast<qint64>(gone));
    EXPECT_EQ(s.windows[1].processId, 0);
    EXPECT_FALSE(s.windows[1].visible || s.windows[1].border);
    EXPECT_TRUE(list.isConnected()) << "errors about one window do not drop the connection";
}

TEST(XcbWindowListServerLoss, FrozenServerDoesNotHoldUpTheCaller) {
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(180, &error)) << error.toStdString();
    XcbTestClient client(server.displayName());
    const xcb_window_t w = client.createWindow("Eingefroren");
    XcbWindowList::Settings settings = settingsFor(server);
    settings.replyTimeoutMs = 300;
    settings.connectWaitMs = 100;
    XcbWindowList connected(settings);
    ASSERT_TRUE(connected.snapshot().available);

    server.pause();
    // One list connected before the freeze, one first connecting during it.
    XcbWindowList fresh(settings);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(connected.snapshot().available);
    EXPECT_FALSE(fresh.snapshot().available);
    EXPECT_FALSE(fresh.snapshot().available);
    EXPECT_LT(clock.elapsed(), 2500);

    server.resume();
    WindowSnapshot a, b;
    for (int i = 0; i < 100 && !(a.available && b.available); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        a = a.available ? a : connected.snapshot();
        b = b.available ? b : fresh.snapshot();
    }
    EXPECT_NE(find(a, w), nullptr);
    EXPECT_NE(find(b, w), nullptr);
}

} // namespace
