#include "docreaders/documentreaderprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace lesemund::docreaders {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(std::min<long long>(left, 1000000));
}

// True once the child has ended; it stays a zombie (not reaped), so that
// its process group id cannot be given to another process meanwhile.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    info.si_pid = 0;
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR)
            return true; // no such child any more
    }
    return info.si_pid == pid;
}

void sleepBriefly() {
    struct timespec ts {0, 5 * 1000 * 1000};
    ::nanosleep(&ts, nullptr);
}

} // namespace

QString findProgram(const QString &program) {
    if (program.isEmpty())
        return {};
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}

ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory, const QStringList &environment,
                      std::chrono::milliseconds timeLimit, qsizetype maxOutput) {
    ProgramRun run;
    const QString path = findProgram(program);
    if (path.isEmpty())
        return run;

    // Everything the child needs is prepared before it starts.
    std::vector<QByteArray> argStore, envStore;
    argStore.push_back(QFile::encodeName(path));
    for (const QString &a : arguments)
        argStore.push_back(a.toUtf8());
    for (const QString &e : environment)
        envStore.push_back(e.toUtf8());
    std::vector<char *> argv, envp;
    for (QByteArray &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (QByteArray &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(workingDirectory);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return run;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!cwd.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.constData());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A process group of its own, default signal handling, nothing blocked.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return run;
    }
    run.started = true;

    const auto deadline = Clock::now() + timeLimit;
    bool kill = false;
    bool eof = false;
    char buffer[65536];
    while (!eof) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0) {
            run.timedOut = true;
            kill = true;
            break;
        }
        struct pollfd pfd {pipeFds[0], POLLIN, 0};
        const int pr = ::poll(&pfd, 1, wait);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            kill = true;
            break;
        }
        if (pr == 0)
            continue; // the deadline is checked above
        const ssize_t r = ::read(pipeFds[0], buffer, sizeof buffer);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            eof = true;
        } else if (r == 0) {
            eof = true;
        } else {
            const qsizetype room = maxOutput - run.output.size();
            run.output.append(buffer, std::min<qsizetype>(room, r));
            if (r > room) {
                run.outputCut = true;
                kill = true;
                break;
            }
        }
    }
    ::close(pipeFds[0]);

    // The output is closed: wait for the end within what is left of the time.
    while (!kill && !hasEnded(pid)) {
        if (millisecondsLeft(deadline) == 0) {
            run.timedOut = true;
            kill = true;
            break;
        }
        sleepBriefly();
    }
    // Kill the group: on time-out everything, otherwise what the program
    // left behind. The leader is still unreaped, so the group id is ours.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!kill && WIFEXITED(status)) {
        run.finished = true;
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

} // namespace lesemund::docreaders
