// Ending processes through the Linux process control, on child processes
// this test starts itself.
#include "platform/linuxprocesscontrol.h"
#include "support/sleeper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using lesemund::platform::LinuxProcessControl;
using lesemund::platform::ProcessControl;
using lesemund::testing::Sleeper;

namespace {

TEST(LinuxProcessControl, RefusesIdsOfZeroAndBelowWithoutAskingTheSystem) {
    Sleeper bystander;
    ASSERT_GT(bystander.pid(), 0);
    LinuxProcessControl control;
    for (qint32 pid : {0, -1, -2, INT_MIN}) {
        EXPECT_EQ(control.openProcess(ProcessControl::TerminateRight, false, pid), 0) << pid;
        // A system call would have left an error number behind.
        EXPECT_EQ(control.lastError(), 0) << pid;
        EXPECT_FALSE(control.terminateProcess(0, 1));
    }
    EXPECT_TRUE(bystander.alive());
}

TEST(LinuxProcessControl, HandleOfAnEndedProcessSignalsNothing) {
    Sleeper child;
    LinuxProcessControl control;
    const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, child.pid());
    ASSERT_NE(h, 0);
    ::kill(child.pid(), SIGTERM);
    ASSERT_NE(child.waitForEnd(), -1);
    // The id is free for reuse now; the handle still names the old process,
    // which has ended, so nothing is signalled.
    EXPECT_FALSE(control.terminateProcess(h, 1));
    EXPECT_EQ(control.lastError(), ESRCH);
    EXPECT_TRUE(control.closeHandle(h));
    EXPECT_FALSE(control.closeHandle(h));
    EXPECT_EQ(control.openProcess(ProcessControl::TerminateRight, false, child.pid()), 0);
    EXPECT_EQ(control.lastError(), ESRCH);
}

TEST(LinuxProcessControl, ProcessOfAnotherUserIsLeftAlone) {
    Sleeper target;
    ASSERT_GT(target.pid(), 0);
    // A helper tries to end a process of another user: as root it becomes
    // "nobody" and aims at our sleeper, else it aims at process 1.
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        const pid_t victim = ::geteuid() == 0 ? target.pid() : 1;
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        LinuxProcessControl control;
        const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, victim);
        const bool ended = h != 0 && control.terminateProcess(h, 1);
        ::_exit(ended ? 1 : control.lastError() == EPERM ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(helper, &status, 0), helper);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: it ended the process, 2: another error, 3: setuid failed";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(target.alive());
}

} // namespace
