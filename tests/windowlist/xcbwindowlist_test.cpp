// The X11 window list on a private Xvfb without a window manager: the window
// tree is the source unless a test plays the manager's part on the root.
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"

#include <gtest/gtest.h>

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
    XcbWindowList list(sharedXvfb().settings());
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    // 1 + 2 * 40000 bytes: the 64 KB limit falls inside an "ä".
    const QString overlong = QStringLiteral("a") + QString(40000, QChar(0xE4));
    const struct {
        X::Kind kind = X::Mapped;
        QByteArray netWmName{}, wmName{};
        const char *wmType = "STRING";
        std::vector<const char *> types{};
        uint32_t pid = 0;
        QByteArray machine{};
        bool noDecorations = false;
        // what the window gives
        QString title{};
        bool visible = true, border = true;
        qint32 processId = 0;
    } cases[] = {
        {.netWmName = "Neuer Name \xc3\xa4", .wmName = "Alter Name", .title = "Neuer Name ä"},
        {.wmName = "Gr\xfc\xdf" "e", .title = "Grüße"}, // the _NET_WM_NAME of every row without one is empty
        {.wmName = "Ma\xc3\x9f", .wmType = "UTF8_STRING", .title = "Maß"},
        {.wmName = "Gr\xfc\xdf" "e \x1b-A" "da\x1b/A!", .wmType = "COMPOUND_TEXT", .title = "Grüße da!"},
        // Bytes that are not UTF-8 are read as Windows-1252.
        {.netWmName = "Caf\xe9 \x80 \xff\xfe", .title = "Café € ÿþ"},
        {.netWmName = "abc\xe2\x82", .title = "abcâ‚"},
        {.netWmName = QByteArray("Eins\0Zwei", 9), .title = "Eins"},
        {.netWmName = overlong.toUtf8(), .title = overlong.left(32768)},
        {.kind = X::Unmapped, .visible = false},
        {.types = {"DIALOG"}, .pid = 4242, .processId = 4242},
        {.types = {"UTILITY"}, .pid = 4343, .machine = host, .processId = 4343},
        {.types = {"DOCK"}, .pid = 4444, .machine = "anderer.example", .border = false},
        {.types = {"TOOLTIP"}, .pid = 0xFFFFFFFFu, .border = false, .processId = -1},
        {.types = {"LESEMUND_TEST", "POPUP_MENU"}, .border = false},
        {.types = {"LESEMUND_TEST"}}, // none known: a normal window
        {.kind = X::OverrideRedirect, .border = false},
        {.kind = X::InputOnly, .border = false},
        {.noDecorations = true, .border = false},
    };
    for (const auto &c : cases) {
        const xcb_window_t w = x.createWindow({}, c.kind);
        x.setNetWmName(w, c.netWmName);
        x.set(w, "WM_NAME", c.wmType, c.wmName);
        std::vector<uint32_t> types;
        for (const char *type : c.types)
            types.push_back(x.atom(QByteArray("_NET_WM_WINDOW_TYPE_") + type));
        x.set(w, "_NET_WM_WINDOW_TYPE", "ATOM", types);
        x.setPid(w, c.pid);
        x.set(w, "WM_CLIENT_MACHINE", "STRING", c.machine);
        x.set(w, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS", {c.noDecorations ? 2u : 0u, 0, 0, 0, 0});
        const WindowInfo top = list.snapshot().windows.at(0);
        EXPECT_EQ(std::tuple(top.handle, top.title, top.visible, top.border, top.processId),
                  std::tuple(qint64(w), c.title, c.visible, c.border, c.processId)) << c.title.left(9).toStdString();
    }
}

TEST(XcbWindowList, StackingListOfALiveManagerEvenWithAVanishedWindow) {
    X x(sharedXvfb().displayName());
    XcbWindowList list(sharedXvfb().settings());
    const xcb_window_t check = x.createWindow({}, X::Unmapped);
    const xcb_window_t a = x.createWindow("A"), gone = x.createWindow("Weg"), b = x.createWindow("B");
    x.createWindow("Nicht verwaltet");
    // Bottom to top: b, gone, a, unlike the tree's order.
    x.set(x.root, "_NET_CLIENT_LIST_STACKING", "WINDOW", {b, gone, a});
    x.set(x.root, "_NET_SUPPORTING_WM_CHECK", "WINDOW", {check});
    // A check window that does not name itself: no manager is alive, the tree counts.
    EXPECT_EQ(titles(list.snapshot()), (QStringList{"Nicht verwaltet", "B", "Weg", "A", ""}));
    xcb_destroy_window(x.c, gone);
    x.set(check, "_NET_SUPPORTING_WM_CHECK", "WINDOW", {check});
    const WindowSnapshot s = list.snapshot();
    x.set(x.root, "_NET_CLIENT_LIST_STACKING", "WINDOW", std::vector<uint32_t>{});
    EXPECT_EQ(titles(s), (QStringList{"A", "", "B"}));
    EXPECT_FALSE(s.windows.at(1).visible || s.windows.at(1).border || s.windows.at(1).handle != qint64(gone));
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
    const auto frozen = std::chrono::steady_clock::now();
    EXPECT_FALSE(connected.snapshot().available || fresh.snapshot().available || fresh.snapshot().available);
    EXPECT_LT(std::chrono::steady_clock::now() - frozen, std::chrono::milliseconds(2500));
    ::kill(server.pid(), SIGCONT);
    bool back = false;
    for (int i = 0; i < 100 && !back; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(30)))
        back = connected.snapshot().available && fresh.snapshot().available;
    EXPECT_TRUE(back);
    server.stop(SIGKILL);
    EXPECT_FALSE(connected.snapshot().available);

    XcbWindowList missing({":4986", 60000});
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(missing.snapshot().available);
    EXPECT_EQ(missing.connectionAttempts(), 1) << "a missing server is not asked for at every step";
}

} // namespace
