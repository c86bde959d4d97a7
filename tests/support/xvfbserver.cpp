#include "support/xvfbserver.h"

#include "support/serverprocess.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <xcb/xcb.h>

namespace lesemund::testing {
namespace {

bool displayTaken(int display) {
    return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display));
}

} // namespace

XvfbServer::~XvfbServer() { stop(); }

bool XvfbServer::start(int firstDisplay, QString *error) {
    stop();
    for (int display = firstDisplay; display < firstDisplay + 200; ++display) {
        if (displayTaken(display))
            continue;
        if (launch(display, error))
            return true;
    }
    if (error && error->isEmpty())
        *error = QStringLiteral("no free display");
    return false;
}

bool XvfbServer::restart(QString *error) {
    const int display = display_;
    stop();
    if (display < 0)
        return start(120, error);
    // The old server's socket and lock go with it; give them a moment.
    for (int i = 0; i < 200 && displayTaken(display); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return launch(display, error);
}

bool XvfbServer::launch(int display, QString *error) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty()) {
        if (error)
            *error = QStringLiteral("Xvfb is not installed");
        return false;
    }
    const QByteArray path = QFile::encodeName(program);
    const QByteArray displayArg = ":" + QByteArray::number(display);
    const char *argv[] = {path.constData(), displayArg.constData(), "-nolisten", "tcp", "-noreset",
                          "-screen", "0", "1024x768x24", nullptr};
    const pid_t pid = spawnTestServer(argv, nullptr, nullptr);
    if (pid < 0) {
        if (error)
            *error = QStringLiteral("fork failed");
        return false;
    }

    // Ready when the lock file names our server and it accepts a
    // connection; a server that finds the display taken ends at once.
    const QString lockPath = QStringLiteral("/tmp/.X%1-lock").arg(display);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            if (error)
                *error = QStringLiteral("Xvfb could not start on :%1").arg(display);
            return false;
        }
        QFile lock(lockPath);
        if (lock.open(QIODevice::ReadOnly) && lock.readAll().trimmed().toInt() == pid) {
            xcb_connection_t *c = xcb_connect(displayArg.constData(), nullptr);
            const bool up = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            if (up) {
                pid_ = pid;
                display_ = display;
                paused_ = false;
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    reapTestServer(pid, std::chrono::seconds(5));
    if (error)
        *error = QStringLiteral("Xvfb did not come up on :%1").arg(display);
    return false;
}

void XvfbServer::reap(int signal) {
    if (pid_ <= 0)
        return;
    if (paused_)
        ::kill(pid_, SIGCONT);
    ::kill(pid_, signal);
    if (!reapTestServer(pid_, std::chrono::seconds(5))) {
        ::kill(pid_, SIGKILL);
        reapTestServer(pid_, std::chrono::seconds(5));
    }
    // A server that was killed leaves its socket (and lock file, if it
    // made one) behind. Both are ours unless a lock names another server.
    QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(display_));
    bool ours = true;
    if (lock.open(QIODevice::ReadOnly)) {
        ours = lock.readAll().trimmed().toInt() == pid_;
        lock.close();
        if (ours)
            lock.remove();
    }
    if (ours)
        QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(display_));
    pid_ = -1;
    paused_ = false;
}

void XvfbServer::stop() { reap(SIGTERM); }

void XvfbServer::kill() { reap(SIGKILL); }

void XvfbServer::pause() {
    if (pid_ > 0 && !paused_) {
        ::kill(pid_, SIGSTOP);
        paused_ = true;
    }
}

void XvfbServer::resume() {
    if (pid_ > 0 && paused_) {
        ::kill(pid_, SIGCONT);
        paused_ = false;
    }
}

XvfbServer &sharedXvfbServer(int firstDisplay) {
    static XvfbServer server;
    if (!server.running())
        server.start(firstDisplay);
    return server;
}

} // namespace lesemund::testing
