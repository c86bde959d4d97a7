// The X11 window list against a private Xvfb. No window manager runs there,
// so the window tree is the source unless a test plays the manager's part by
// putting the stacking list and the check window on the root itself.
#include "platform/codepage.h"
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <unistd.h>

using lesemund::platform::WindowInfo;
using lesemund::platform::WindowSnapshot;
using lesemund::platform::XcbWindowList;
using lesemund::testing::XcbTestClient;
using lesemund::testing::XvfbServer;

namespace {

const WindowInfo *find(const WindowSnapshot &s, xcb_window_t w) {
    for (const WindowInfo &info : s.windows)
        if (info.handle == static_cast<qint64>(w))
            return &info;
    return nullptr;
}

// Positions of `wanted` in the snapshot, in the order given.
std::vector<long> positions(const WindowSnapshot &s, const std::vector<xcb_window_t> &wanted) {
    std::vector<long> result;
    for (xcb_window_t w : wanted) {
        const auto it = std::find_if(s.windows.begin(), s.windows.end(),
                                     [w](const WindowInfo &i) { return i.handle == static_cast<qint64>(w); });
        result.push_back(it == s.windows.end() ? -1 : static_cast<long>(it - s.windows.begin()));
    }
    return result;
}

XcbWindowList::Settings settingsFor(const QByteArray &display) {
    XcbWindowList::Settings s;
    s.display = display;
    return s;
}

class XcbWindowListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new XvfbServer;
        QString error;
        if (!server_->start(140, &error)) {
            startError_ = error;
            delete server_;
            server_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(server_, nullptr) << startError_.toStdString();
        client_ = std::make_unique<XcbTestClient>(server_->displayName());
        ASSERT_TRUE(client_->ok());
        list_ = std::make_unique<XcbWindowList>(settingsFor(server_->displayName()));
    }

    void TearDown() override {
        if (client_ && client_->ok()) {
            client_->deleteProperty(client_->root(), "_NET_CLIENT_LIST_STACKING");
            client_->deleteProperty(client_->root(), "_NET_SUPPORTING_WM_CHECK");
        }
    }

    WindowSnapshot snap() {
        WindowSnapshot s = list_->snapshot();
        EXPECT_TRUE(s.available);
        return s;
    }

    // A live fake manager: a check window pointing at itself, named on the
    // root, and the stacking list `bottomUp`.
    void playWindowManager(const std::vector<xcb_window_t> &bottomUp) {
        XcbTestClient::Options hidden;
        hidden.map = false;
        const xcb_window_t check = client_->createWindow({}, hidden);
        client_->setWindows(check, "_NET_SUPPORTING_WM_CHECK", {check});
        client_->setWindows(client_->root(), "_NET_SUPPORTING_WM_CHECK", {check});
        client_->setWindows(client_->root(), "_NET_CLIENT_LIST_STACKING", bottomUp);
    }

    static XvfbServer *server_;
    static QString startError_;
    std::unique_ptr<XcbTestClient> client_;
    std::unique_ptr<XcbWindowList> list_;
};

XvfbServer *XcbWindowListTest::server_ = nullptr;
QString XcbWindowListTest::startError_;

// --- order and the desktop window -----------------------------------------

TEST_F(XcbWindowListTest, WindowsComeTopmostFirst) {
    const xcb_window_t a = client_->createWindow("Erstes");
    const xcb_window_t b = client_->createWindow("Zweites");
    const xcb_window_t c = client_->createWindow("Drittes");
    const WindowSnapshot s = snap();
    // Created later means stacked higher.
    EXPECT_EQ(positions(s, {c, b, a}), (std::vector<long>{0, 1, 2}));
    EXPECT_EQ(s.windows[0].title, QStringLiteral("Drittes"));
}

TEST_F(XcbWindowListTest, RaisingAWindowPutsItFirst) {
    const xcb_window_t a = client_->createWindow("Unten");
    const xcb_window_t b = client_->createWindow("Oben");
    ASSERT_EQ(snap().windows.at(0).handle, static_cast<qint64>(b));
    client_->raise(a);
    const WindowSnapshot s = snap();
    EXPECT_EQ(positions(s, {a, b}), (std::vector<long>{0, 1}));
}

TEST_F(XcbWindowListTest, DesktopIsTheRootWithoutTitleOrBorder) {
    const WindowSnapshot s = snap();
    EXPECT_EQ(s.desktop.handle, static_cast<qint64>(client_->root()));
    EXPECT_TRUE(s.desktop.title.isEmpty());
    EXPECT_TRUE(s.desktop.visible);
    EXPECT_FALSE(s.desktop.border);
    EXPECT_EQ(s.desktop.processId, 0);
    EXPECT_EQ(find(s, client_->root()), nullptr) << "the root is not one of its own children";
}

// --- titles ----------------------------------------------------------------

TEST_F(XcbWindowListTest, TitleSourcesInOrderOfPreference) {
    const xcb_window_t both = client_->createWindow("Alter Name");
    client_->setNetWmName(both, QStringLiteral("Neuer Name äöü").toUtf8());
    const xcb_window_t latin1 = client_->createWindow(QByteArray("Gr\xfc\xdf" "e"));
    const xcb_window_t utf8WmName = client_->createWindow({});
    client_->setWmName(utf8WmName, QStringLiteral("Maß").toUtf8(), "UTF8_STRING");
    const xcb_window_t emptyNet = client_->createWindow("Ersatz");
    client_->setNetWmName(emptyNet, QByteArray());
    const xcb_window_t compound = client_->createWindow({});
    client_->setWmName(compound, QByteArray("Gr\xfc\xdf" "e \x1b-A" "da"), "COMPOUND_TEXT");
    const xcb_window_t none = client_->createWindow({});

    const WindowSnapshot s = snap();
    EXPECT_EQ(find(s, both)->title, QStringLiteral("Neuer Name äöü"));
    EXPECT_EQ(find(s, latin1)->title, QStringLiteral("Grüße"));
    EXPECT_EQ(find(s, utf8WmName)->title, QStringLiteral("Maß"));
    EXPECT_EQ(find(s, emptyNet)->title, QStringLiteral("Ersatz"));
    EXPECT_EQ(find(s, compound)->title, QStringLiteral("Grüße da"));
    EXPECT_TRUE(find(s, none)->title.isEmpty());
}

TEST_F(XcbWindowListTest, InvalidUtf8TitleIsReadAsWindows1252) {
    const xcb_window_t w = client_->createWindow({});
    const QByteArray bytes("Caf\xe9 \x80 \xff\xfe");
    client_->setNetWmName(w, bytes);
    const xcb_window_t cut = client_->createWindow({});
    client_->setNetWmName(cut, QByteArray("abc\xe2\x82"));
    const WindowSnapshot s = snap();
    EXPECT_EQ(find(s, w)->title, lesemund::codepage::fromAnsi(bytes));
    EXPECT_EQ(find(s, w)->title, QStringLiteral("Café € ÿþ"));
    EXPECT_EQ(find(s, cut)->title, lesemund::codepage::fromAnsi(QByteArray("abc\xe2\x82")));
}

TEST_F(XcbWindowListTest, TitleEndsAtTheFirstNulByte) {
    const xcb_window_t w = client_->createWindow({});
    client_->setNetWmName(w, QByteArray("Eins\0Zwei", 9));
    EXPECT_EQ(find(snap(), w)->title, QStringLiteral("Eins"));
}

TEST_F(XcbWindowListTest, TenKilobyteTitleComesOutWhole) {
    QString title;
    while (title.size() < 10240)
        title += QStringLiteral("Fenster Nr. %1 mit Übergröße; ").arg(title.size());
    const xcb_window_t w = client_->createWindow({});
    client_->setNetWmName(w, title.toUtf8());
    EXPECT_EQ(find(snap(), w)->title, title);
}

TEST_F(XcbWindowListTest, OverlongTitleIsCutWithoutSplittingACharacter) {
    // 1 + 2 * 40000 bytes: the 64 KB limit falls inside an "ä".
    const QString title = QStringLiteral("a") + QString(40000, QChar(0xE4));
    const xcb_window_t w = client_->createWindow({});
    client_->setNetWmName(w, title.toUtf8());
    const QString got = find(snap(), w)->title;
    EXPECT_EQ(got, title.left(32768));
}

// --- visible and border bits -----------------------------------------------

TEST_F(XcbWindowListTest, VisibleMeansMappedAndViewable) {
    XcbTestClient::Options unmapped;
    unmapped.map = false;
    const xcb_window_t shown = client_->createWindow("Gezeigt");
    const xcb_window_t hidden = client_->createWindow("Versteckt", unmapped);
    WindowSnapshot s = snap();
    EXPECT_TRUE(find(s, shown)->visible);
    EXPECT_FALSE(find(s, hidden)->visible);
    client_->unmap(shown);
    client_->map(hidden);
    s = snap();
    EXPECT_FALSE(find(s, shown)->visible);
    EXPECT_TRUE(find(s, hidden)->visible);
}

TEST_F(XcbWindowListTest, BorderOnlyForWindowsTheDesktopWouldFrame) {
    const xcb_window_t plain = client_->createWindow("Normal");
    const xcb_window_t dialog = client_->createWindow("Dialog");
    client_->setWindowType(dialog, {"_NET_WM_WINDOW_TYPE_DIALOG"});
    const xcb_window_t utility = client_->createWindow("Werkzeug");
    client_->setWindowType(utility, {"_NET_WM_WINDOW_TYPE_UTILITY"});
    const xcb_window_t dock = client_->createWindow("Leiste");
    client_->setWindowType(dock, {"_NET_WM_WINDOW_TYPE_DOCK"});
    const xcb_window_t tooltip = client_->createWindow("Tipp");
    client_->setWindowType(tooltip, {"_NET_WM_WINDOW_TYPE_TOOLTIP"});
    const xcb_window_t unknownThenMenu = client_->createWindow("Menü");
    client_->setWindowType(unknownThenMenu, {"_LESEMUND_TEST_TYPE", "_NET_WM_WINDOW_TYPE_POPUP_MENU"});
    const xcb_window_t unknownOnly = client_->createWindow("Unbekannt");
    client_->setWindowType(unknownOnly, {"_LESEMUND_TEST_TYPE"});
    XcbTestClient::Options override;
    override.overrideRedirect = true;
    const xcb_window_t popup = client_->createWindow("Aufklapper", override);
    XcbTestClient::Options inputOnly;
    inputOnly.inputOnly = true;
    const xcb_window_t glass = client_->createWindow("Glas", inputOnly);
    const xcb_window_t frameless = client_->createWindow("Rahmenlos");
    client_->setNoDecorations(frameless);

    const WindowSnapshot s = snap();
    EXPECT_TRUE(find(s, plain)->border);
    EXPECT_TRUE(find(s, dialog)->border);
    EXPECT_TRUE(find(s, utility)->border);
    EXPECT_FALSE(find(s, dock)->border);
    EXPECT_FALSE(find(s, tooltip)->border);
    EXPECT_FALSE(find(s, unknownThenMenu)->border);
    EXPECT_TRUE(find(s, unknownOnly)->border);
    EXPECT_FALSE(find(s, popup)->border);
    EXPECT_FALSE(find(s, glass)->border);
    EXPECT_FALSE(find(s, frameless)->border);
    // The bits are independent: an unframed window can still be visible.
    EXPECT_TRUE(find(s, dock)->visible);
    EXPECT_TRUE(find(s, popup)->visible);
}

// --- process ids -----------------------------------------------------------

TEST_F(XcbWindowListTest, ProcessIdFromNetWmPidOfThisMachineOnly) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const xcb_window_t plain = client_->createWindow("Mit Prozess");
    client_->setPid(plain, 4242);
    const xcb_window_t local = client_->createWindow("Hier");
    client_->setPid(local, 4343);
    client_->setClientMachine(local, QByteArray(host));
    const xcb_window_t remote = client_->createWindow("Anderswo");
    client_->setPid(remote, 4444);
    client_->setClientMachine(remote, "anderer-rechner.example");
    const xcb_window_t none = client_->createWindow("Ohne Prozess");
    const xcb_window_t huge = client_->createWindow("Riesig");
    client_->setPid(huge, 0xFFFFFFFFu);

    const WindowSnapshot s = snap();
    EXPECT_EQ(find(s, plain)->processId, 4242);
    EXPECT_EQ(find(s, local)->processId, 4343);
    EXPECT_EQ(find(s, remote)->processId, 0);
    EXPECT_EQ(find(s, none)->processId, 0);
    EXPECT_EQ(find(s, huge)->processId, -1);
}

// --- a window manager's stacking list --------------------------------------

TEST_F(XcbWindowListTest, StackingListOfALiveManagerIsUsedTopmostFirst) {
    const xcb_window_t a = client_->createWindow("Verwaltet A");
    const xcb_window_t b = client_->createWindow("Verwaltet B");
    const xcb_window_t loose = client_->createWindow("Nicht verwaltet");
    // Bottom to top: b, then a on top, unlike the tree's order.
    playWindowManager({b, a});
    const WindowSnapshot s = snap();
    ASSERT_EQ(s.windows.size(), 2u);
    EXPECT_EQ(s.windows[0].handle, static_cast<qint64>(a));
    EXPECT_EQ(s.windows[1].handle, static_cast<qint64>(b));
    EXPECT_EQ(s.windows[0].title, QStringLiteral("Verwaltet A"));
    EXPECT_EQ(find(s, loose), nullptr);
}

TEST_F(XcbWindowListTest, StackingListWithoutLiveManagerIsIgnored) {
    const xcb_window_t a = client_->createWindow("A");
    const xcb_window_t b = client_->createWindow("B");
    client_->setWindows(client_->root(), "_NET_CLIENT_LIST_STACKING", {a});
    // No check window at all.
    WindowSnapshot s = snap();
    EXPECT_NE(find(s, b), nullptr);
    // A check window that has gone: the manager died and left its list.
    XcbTestClient::Options hidden;
    hidden.map = false;
    const xcb_window_t check = client_->createWindow({}, hidden);
    client_->setWindows(client_->root(), "_NET_SUPPORTING_WM_CHECK", {check});
    client_->destroy(check);
    s = snap();
    EXPECT_NE(find(s, b), nullptr);
    EXPECT_EQ(positions(s, {b, a}), (std::vector<long>{0, 1}));
}

TEST_F(XcbWindowListTest, WindowThatVanishedGivesAnEmptyRowInItsPlace) {
    const xcb_window_t a = client_->createWindow("Bleibt unten");
    const xcb_window_t gone = client_->createWindow("Verschwindet");
    client_->setPid(gone, 777);
    const xcb_window_t c = client_->createWindow("Bleibt oben");
    client_->setPid(c, 778);
    client_->destroy(gone);
    // The manager's list still names the window that is no more.
    playWindowManager({a, gone, c});
    const WindowSnapshot s = snap();
    ASSERT_EQ(s.windows.size(), 3u);
    EXPECT_EQ(s.windows[0].title, QStringLiteral("Bleibt oben"));
    EXPECT_EQ(s.windows[0].processId, 778);
    EXPECT_EQ(s.windows[1].handle, static_cast<qint64>(gone));
    EXPECT_TRUE(s.windows[1].title.isEmpty());
    EXPECT_EQ(s.windows[1].processId, 0);
    EXPECT_FALSE(s.windows[1].visible);
    EXPECT_FALSE(s.windows[1].border);
    EXPECT_EQ(s.windows[2].title, QStringLiteral("Bleibt unten"));
    EXPECT_TRUE(list_->isConnected()) << "errors about one window do not drop the connection";
}

TEST_F(XcbWindowListTest, ManyWindowsAreAllRead) {
    std::vector<xcb_window_t> made;
    for (int i = 0; i < 300; ++i)
        made.push_back(client_->createWindow("Fenster " + QByteArray::number(i)));
    const WindowSnapshot s = snap();
    for (int i = 0; i < 300; ++i) {
        const WindowInfo *info = find(s, made[static_cast<size_t>(i)]);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->title, QStringLiteral("Fenster %1").arg(i));
    }
    EXPECT_EQ(s.windows.front().handle, static_cast<qint64>(made.back()));
}

// --- no display, lost and frozen servers -----------------------------------

TEST(XcbWindowListNoDisplay, UnknownDisplayGivesEmptyListAndRetriesRarely) {
    XcbWindowList::Settings settings;
    settings.display = ":4987";
    settings.reconnectIntervalMs = 60000;
    XcbWindowList list(settings);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i) {
        const WindowSnapshot s = list.snapshot();
        EXPECT_FALSE(s.available);
        EXPECT_TRUE(s.windows.empty());
        EXPECT_EQ(s.desktop.handle, 0);
    }
    EXPECT_EQ(list.connectionAttempts(), 1);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(list.isConnected());
}

TEST(XcbWindowListNoDisplay, NoDisplayVariableGivesEmptyList) {
    const QByteArray saved = qgetenv("DISPLAY");
    const bool had = qEnvironmentVariableIsSet("DISPLAY");
    qunsetenv("DISPLAY");
    {
        XcbWindowList list;
        EXPECT_FALSE(list.snapshot().available);
        EXPECT_FALSE(list.snapshot().available);
        EXPECT_EQ(list.connectionAttempts(), 1);
    }
    if (had)
        qputenv("DISPLAY", saved);
}

TEST(XcbWindowListServerLoss, KilledServerGivesEmptyListThenComesBack) {
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(160, &error)) << error.toStdString();
    XcbWindowList::Settings settings;
    settings.display = server.displayName();
    settings.reconnectIntervalMs = 100;
    XcbWindowList list(settings);
    {
        XcbTestClient client(server.displayName());
        const xcb_window_t w = client.createWindow("Vorher");
        const WindowSnapshot s = list.snapshot();
        ASSERT_TRUE(s.available);
        ASSERT_NE(find(s, w), nullptr);

        server.kill();
        // The broken connection is found by the reads and writes of the
        // next snapshots: no signal, no crash, just nothing.
        for (int i = 0; i < 20; ++i) {
            const WindowSnapshot lost = list.snapshot();
            EXPECT_FALSE(lost.available) << "snapshot " << i;
            EXPECT_TRUE(lost.windows.empty());
        }
        EXPECT_FALSE(list.isConnected());
    }

    ASSERT_TRUE(server.restart(&error)) << error.toStdString();
    XcbTestClient client(server.displayName());
    const xcb_window_t w = client.createWindow("Nachher");
    WindowSnapshot back;
    for (int i = 0; i < 100 && !back.available; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        back = list.snapshot();
    }
    ASSERT_TRUE(back.available);
    ASSERT_NE(find(back, w), nullptr);
    EXPECT_EQ(find(back, w)->title, QStringLiteral("Nachher"));
}

TEST(XcbWindowListServerLoss, FrozenServerDoesNotHoldUpTheCaller) {
    XvfbServer server;
    QString error;
    ASSERT_TRUE(server.start(180, &error)) << error.toStdString();
    XcbTestClient client(server.displayName());
    const xcb_window_t w = client.createWindow("Eingefroren");

    XcbWindowList::Settings settings;
    settings.display = server.displayName();
    settings.reconnectIntervalMs = 100;
    settings.replyTimeoutMs = 300;
    settings.connectWaitMs = 100;
    XcbWindowList connected(settings);
    ASSERT_TRUE(connected.snapshot().available);

    server.pause();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(connected.snapshot().available);
    EXPECT_LT(clock.elapsed(), 1500);

    // A list that first connects while the server is frozen.
    XcbWindowList fresh(settings);
    clock.restart();
    EXPECT_FALSE(fresh.snapshot().available);
    EXPECT_FALSE(fresh.snapshot().available);
    EXPECT_LT(clock.elapsed(), 1500);

    server.resume();
    WindowSnapshot a, b;
    for (int i = 0; i < 100 && !(a.available && b.available); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (!a.available)
            a = connected.snapshot();
        if (!b.available)
            b = fresh.snapshot();
    }
    ASSERT_TRUE(a.available);
    ASSERT_TRUE(b.available);
    EXPECT_NE(find(a, w), nullptr);
    EXPECT_NE(find(b, w), nullptr);
}

} // namespace
