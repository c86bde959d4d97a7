// Ending processes through process file descriptors, on a child of the test.
#include "platform/linuxprocesscontrol.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cerrno>
#include <climits>
#include <csignal>

TEST(LinuxProcessControl, HandleNamesTheProcessItOpenedAndIdsOfZeroAndBelowAreRefused) {
    QProcess child;
    child.start("sleep", {"60"});
    ASSERT_TRUE(child.waitForStarted());
    lesemund::platform::LinuxProcessControl control;
    for (qint32 pid : {0, -1, -2, INT_MIN}) {
        EXPECT_EQ(control.openProcess(1, false, pid), 0) << pid;
        EXPECT_EQ(control.lastError(), 0) << pid << ": refused without a system call";
    }
    const auto h = control.openProcess(1, false, child.processId());
    ASSERT_NE(h, 0);
    ::kill(child.processId(), SIGTERM);
    ASSERT_TRUE(child.waitForFinished(2000));
    // The id is free for reuse now; the handle still names the ended process.
    EXPECT_FALSE(control.terminateProcess(h, 1));
    EXPECT_EQ(control.lastError(), ESRCH);
    EXPECT_TRUE(control.closeHandle(h));
    EXPECT_FALSE(control.closeHandle(h) || control.terminateProcess(0, 1));
}
