#include "support/serverprocess.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lesemund::testing {

pid_t spawnTestServer(const char *const argv[], const char *const envp[], const char *logPath, int out, int in,
                      bool killedWithTest) {
    const pid_t parent = ::getpid(), pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls between fork and exec.
    if (killedWithTest && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
        ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(in >= 0 ? in : null, 0);
    ::dup2(out >= 0 ? out : null, 1);
    ::dup2(logPath ? ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644) : null, 2);
    ::execve(argv[0], const_cast<char *const *>(argv), envp ? const_cast<char *const *>(envp) : environ);
    ::_exit(127);
}

bool reapTestServer(pid_t pid, std::chrono::milliseconds timeout) {
    return waitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, timeout); // reaped, or none to reap
}

} // namespace lesemund::testing
