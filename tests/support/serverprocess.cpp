#include "support/serverprocess.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <sys/prctl.h>
#include <csignal>
#include <unistd.h>

namespace lesemund::testing {

pid_t spawnTestServer(const char *const argv[], const char *const envp[], const char *logPath) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    const int log = logPath ? ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644) : null;
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
    }
    if (log >= 0)
        ::dup2(log, 2);
    if (envp)
        ::execve(argv[0], const_cast<char *const *>(argv), const_cast<char *const *>(envp));
    else
        ::execv(argv[0], const_cast<char *const *>(argv));
    ::_exit(127);
}

bool reapTestServer(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace lesemund::testing
