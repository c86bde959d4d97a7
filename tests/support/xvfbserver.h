#pragma once
// A private Xvfb, reachable only through its local socket.
#include "platform/xcbwindowlist.h"
#include "support/serverprocess.h"

#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <xcb/xcb.h>

namespace lesemund::testing {

class XvfbServer {
public:
    ~XvfbServer() { stop(SIGTERM); }
    // Starts a server on the first free display from `firstDisplay` on and
    // waits until it answers.
    bool start(int firstDisplay, QString *error = nullptr) {
        stop(SIGTERM);
        const QByteArray program = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
        for (int d = firstDisplay; !program.isEmpty() && d < firstDisplay + 100; ++d) {
            const QByteArray arg = ":" + QByteArray::number(d);
            const char *argv[] = {program, arg, "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24", nullptr};
            if ((pid_ = spawnTestServer(argv, nullptr, nullptr)) < 0)
                continue;
            // Up when it answers and its lock names it. A server that finds
            // the display taken ends at once; it takes over a stale lock.
            for (int i = 0; i < 1500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
                xcb_connection_t *c = xcb_connect(arg, nullptr);
                const bool up = !xcb_connection_has_error(c) && lockOwner(d) == pid_;
                xcb_disconnect(c);
                if (up) {
                    display_ = d;
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::kill(pid_, SIGKILL);
            reapTestServer(pid_, std::chrono::seconds(5));
        }
        if (error)
            *error = "Xvfb did not start";
        pid_ = -1;
        return false;
    }
    // Ends the server with `signal` (SIGKILL: as a crash would), frozen or
    // not, and removes the socket and lock a killed server leaves behind.
    void stop(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGCONT);
        ::kill(pid_, signal);
        reapTestServer(pid_, std::chrono::seconds(5));
        if (const pid_t owner = lockOwner(display_); owner == 0 || owner == pid_) {
            QFile::remove(lockOf(display_));
            QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(display_));
        }
        pid_ = -1;
    }
    pid_t pid() const { return pid_; }
    QByteArray displayName() const { return ":" + QByteArray::number(display_); }
    platform::XcbWindowList::Settings settings() const { return {displayName(), 50}; }

private:
    static QString lockOf(int d) { return QStringLiteral("/tmp/.X%1-lock").arg(d); }
    static pid_t lockOwner(int d) {
        QFile lock(lockOf(d));
        return lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toInt() : 0;
    }
    pid_t pid_ = -1;
    int display_ = -1;
};

// One server for all tests of a test program.
inline XvfbServer &sharedXvfb() {
    static XvfbServer server;
    if (server.pid() <= 0)
        server.start(140);
    return server;
}

} // namespace lesemund::testing
