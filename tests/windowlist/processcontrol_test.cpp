// Ending processes through the Linux process control, on child processes
// this test starts itself.
#include "platform/linuxprocesscontrol.h"

#include "support/sleeper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using lesemund::platform::LinuxProcessControl;
using lesemund::platform::ProcessControl;

using lesemund::testing::Sleeper;

namespace {


TEST(LinuxProcessControl, EndsAChildProcess) {
    Sleeper child;
    ASSERT_GT(child.pid(), 0);
    LinuxProcessControl control;
    const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, child.pid());
    ASSERT_NE(h, 0);
    EXPECT_TRUE(control.terminateProcess(h, 1));
    EXPECT_TRUE(control.closeHandle(h));
    const int status = child.waitForEnd();
    ASSERT_NE(status, -1) << "the child is still running";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(LinuxProcessControl, RefusesIdsOfZeroAndBelowWithoutAskingTheSystem) {
    Sleeper bystander;
    ASSERT_GT(bystander.pid(), 0);
    LinuxProcessControl control;
    for (qint32 pid : {0, -1, -2, INT_MIN}) {
        EXPECT_EQ(control.openProcess(ProcessControl::TerminateRight, false, pid), 0) << pid;
        // A system call would have left an error number behind.
        EXPECT_EQ(control.lastError(), 0) << pid;
        EXPECT_FALSE(control.terminateProcess(0, 1));
        EXPECT_FALSE(control.closeHandle(0));
    }
    EXPECT_TRUE(bystander.alive());
}

TEST(LinuxProcessControl, HandleWithoutTheTerminateRightEndsNothing) {
    Sleeper child;
    LinuxProcessControl control;
    const ProcessControl::Handle h = control.openProcess(0, false, child.pid());
    ASSERT_NE(h, 0);
    EXPECT_FALSE(control.terminateProcess(h, 1));
    EXPECT_EQ(control.lastError(), EACCES);
    EXPECT_TRUE(control.closeHandle(h));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(child.alive());
}

TEST(LinuxProcessControl, ClosedAndUnknownHandlesFail) {
    Sleeper child;
    LinuxProcessControl control;
    const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, child.pid());
    ASSERT_NE(h, 0);
    EXPECT_FALSE(control.terminateProcess(h + 1000, 1));
    EXPECT_FALSE(control.closeHandle(h + 1000));
    EXPECT_TRUE(control.closeHandle(h));
    EXPECT_FALSE(control.closeHandle(h));
    EXPECT_FALSE(control.terminateProcess(h, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(child.alive());
}

TEST(LinuxProcessControl, ProcessThatHasGoneCannotBeOpened) {
    pid_t pid = -1;
    const char *argv[] = {"true", nullptr};
    ASSERT_EQ(::posix_spawnp(&pid, "true", nullptr, nullptr, const_cast<char *const *>(argv), environ), 0);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    LinuxProcessControl control;
    EXPECT_EQ(control.openProcess(ProcessControl::TerminateRight, false, pid), 0);
    EXPECT_EQ(control.lastError(), ESRCH);
}

TEST(LinuxProcessControl, OpenedHandleKeepsNamingTheOpenedProcess) {
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
}

TEST(LinuxProcessControl, ProcessOfAnotherUserIsLeftAlone) {
    Sleeper target;
    ASSERT_GT(target.pid(), 0);
    if (::geteuid() != 0) {
        // Process 1 belongs to another user here.
        LinuxProcessControl control;
        const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, 1);
        if (h != 0) {
            EXPECT_FALSE(control.terminateProcess(h, 1));
            EXPECT_EQ(control.lastError(), EPERM);
            control.closeHandle(h);
        }
        return;
    }
    // As root: a child that becomes "nobody" tries to end our sleeper.
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        LinuxProcessControl control;
        const ProcessControl::Handle h = control.openProcess(ProcessControl::TerminateRight, false, target.pid());
        if (h == 0)
            ::_exit(4);
        const bool ended = control.terminateProcess(h, 1);
        const int error = control.lastError();
        control.closeHandle(h);
        ::_exit(ended ? 1 : error == EPERM ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(helper, &status, 0), helper);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: it ended the process, 2: another error, 3: setuid failed, 4: open failed";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(target.alive());
}

} // namespace
