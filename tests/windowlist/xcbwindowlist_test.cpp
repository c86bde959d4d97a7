// The X11 window list on a private Xvfb without a window manager: the window
// tree is the source unless a test plays the manager's part on the root.
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>

#include <thread>
#include <unistd.h>

using namespace lesemund::platform;
using namespace lesemund::testing;
using X = XcbTestClient;

namespace {

QStringList titles(const WindowSnapshot &s) {
    QStringList result;
    for (const WindowInfo &info : s.windows)
        result << info.title;
    return result;
}

TEST(XcbWindowList, WhatEachWindowGives) {
    X x(sharedXvfb().displayName());
    ASSERT_NE(x.root, 0u) << "no Xvfb";
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    // 1 + 2 * 40000 bytes: the 64 KB limit falls inside an "ä".
    const QString overlong = QStringLiteral("a") + QString(40000, QChar(0xE4));
    struct Gives { QString title{}; bool visible = true, border = true; qint32 pid = 0; };
    const struct {
        X::Kind kind = X::Mapped;
        QByteArray netName{}, wmName{};
        const char *wmType = "STRING";
        std::vector<const char *> types{};
        uint32_t pid = 0;
        QByteArray machine{};
        bool noDecorations = false;
        Gives gives{};
    } cases[] = {
        {.netName = "Neuer Name \xc3\xa4", .wmName = "Alter Name", .gives = {"Neuer Name ä"}},
        {.netName = "", .wmName = "Ersatz", .gives = {"Ersatz"}},
        {.wmName = "Gr\xfc\xdf" "e", .gives = {"Grüße"}},
        {.wmName = "Ma\xc3\x9f", .wmType = "UTF8_STRING", .gives = {"Maß"}},
        {.wmName = "Gr\xfc\xdf" "e \x1b-A" "da\x1b/A!", .wmType = "COMPOUND_TEXT", .gives = {"Grüße da!"}},
        // Bytes that are not UTF-8 are read as Windows-1252.
        {.netName = "Caf\xe9 \x80 \xff\xfe", .gives = {"Café € ÿþ"}},
        {.netName = "abc\xe2\x82", .gives = {"abcâ‚"}},
        {.netName = QByteArray("Eins\0Zwei", 9), .gives = {"Eins"}},
        {.netName = overlong.toUtf8(), .gives = {overlong.left(32768)}},
        {.kind = X::Unmapped, .gives = {"", false}},
        {.types = {"DIALOG"}, .pid = 4242, .gives = {"", true, true, 4242}},
        {.types = {"UTILITY"}, .pid = 4343, .machine = host, .gives = {"", true, true, 4343}},
        {.types = {"DOCK"}, .pid = 4444, .machine = "anderer.example", .gives = {"", true, false}},
        {.types = {"TOOLTIP"}, .pid = 0xFFFFFFFFu, .gives = {"", true, false, -1}},
        {.types = {"LESEMUND_TEST", "POPUP_MENU"}, .gives = {"", true, false}},
        {.types = {"LESEMUND_TEST"}, .gives = {""}},
        {.kind = X::OverrideRedirect, .gives = {"", true, false}},
        {.kind = X::InputOnly, .gives = {"", true, false}},
        {.noDecorations = true, .gives = {"", true, false}},
    };
    for (const auto &c : cases) {
        const xcb_window_t w = x.createWindow({}, c.kind);
        if (!c.netName.isNull())
            x.set(w, "_NET_WM_NAME", "UTF8_STRING", c.netName);
        if (!c.wmName.isNull())
            x.set(w, "WM_NAME", c.wmType, c.wmName);
        std::vector<uint32_t> types;
        for (const char *type : c.types)
            types.push_back(x.atom(QByteArray("_NET_WM_WINDOW_TYPE_") + type));
        x.set(w, "_NET_WM_WINDOW_TYPE", "ATOM", types);
        if (c.pid)
            x.set(w, "_NET_WM_PID", "CARDINAL", {c.pid});
        x.set(w, "WM_CLIENT_MACHINE", "STRING", c.machine);
        if (c.noDecorations)
            x.set(w, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS", {2, 0, 0, 0, 0});
    }
    const WindowSnapshot s = XcbWindowList(sharedXvfb().settings()).snapshot();
    EXPECT_EQ(s.desktop.handle, qint64(x.root));
    ASSERT_EQ(s.windows.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const WindowInfo &info = s.windows[std::size(cases) - 1 - i]; // topmost first
        const Gives &gives = cases[i].gives;
        EXPECT_EQ(std::tuple(info.title, info.visible, info.border, info.processId),
                  std::tuple(gives.title, gives.visible, gives.border, gives.pid)) << i;
    }
}

TEST(XcbWindowList, StackingListOfALiveManagerEvenWithAVanishedWindow) {
    X x(sharedXvfb().displayName());
    XcbWindowList list(sharedXvfb().settings());
    const xcb_window_t check = x.createWindow({}, X::Unmapped);
    const xcb_window_t a = x.createWindow("A"), gone = x.createWindow("Weg"), b = x.createWindow("B");
    x.createWindow("Nicht verwaltet");
    x.set(b, "_NET_WM_PID", "CARDINAL", {778});
    // Bottom to top: b, gone, a, unlike the tree's order.
    x.set(x.root, "_NET_CLIENT_LIST_STACKING", "WINDOW", {b, gone, a});
    x.set(x.root, "_NET_SUPPORTING_WM_CHECK", "WINDOW", {check});
    const QStringList tree = {"Nicht verwaltet", "B", "Weg", "A", ""};
    EXPECT_EQ(titles(list.snapshot()), tree) << "a check window not naming itself: no manager is alive";
    xcb_destroy_window(x.c, gone);
    x.set(check, "_NET_SUPPORTING_WM_CHECK", "WINDOW", {check});
    const WindowSnapshot s = list.snapshot();
    x.set(x.root, "_NET_CLIENT_LIST_STACKING", "WINDOW", std::vector<uint32_t>{});
    EXPECT_EQ(titles(s), (QStringList{"A", "", "B"}));
    ASSERT_EQ(s.windows.size(), 3u);
    EXPECT_EQ(s.windows[1].handle, qint64(gone));
    EXPECT_FALSE(s.windows[1].visible || s.windows[1].border);
    EXPECT_EQ(s.windows[2].processId, 778);
    EXPECT_TRUE(list.isConnected()) << "errors about one window do not drop the connection";
}

TEST(XcbWindowList, ServerThatFreezesGoesOrIsMissingNeverHoldsUpTheCaller) {
    XvfbServer server;
    ASSERT_TRUE(server.start(180));
    XcbWindowList::Settings settings{server.displayName(), 50, 300, 100};
    XcbWindowList connected(settings);
    ASSERT_TRUE(connected.snapshot().available);
    ::kill(server.pid(), SIGSTOP);
    XcbWindowList fresh(settings); // first connecting while the server is frozen
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(connected.snapshot().available || fresh.snapshot().available || fresh.snapshot().available);
    EXPECT_LT(clock.elapsed(), 2500);
    ::kill(server.pid(), SIGCONT);
    const auto listedSoon = [](XcbWindowList &list) {
        for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(30)))
            if (titles(list.snapshot()).contains("Da"))
                return true;
        return false;
    };
    X before(server.displayName());
    before.createWindow("Da");
    EXPECT_TRUE(listedSoon(connected) && listedSoon(fresh));
    server.stop(SIGKILL);
    EXPECT_FALSE(connected.snapshot().available);
    ASSERT_TRUE(server.start());
    X after(server.displayName());
    after.createWindow("Da");
    EXPECT_TRUE(listedSoon(connected)) << "a new server on the display is picked up";

    XcbWindowList missing({":4986", 60000});
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(missing.snapshot().available);
    EXPECT_EQ(missing.connectionAttempts(), 1) << "a missing server is not asked for at every step";
}

} // namespace
