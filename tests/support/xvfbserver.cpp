#include "support/xvfbserver.h"

#include "support/serverprocess.h"

#include <QFile>
#include <QStandardPaths>

#include <sys/wait.h>
#include <thread>
#include <xcb/xcb.h>

namespace lesemund::testing {
namespace {
QString lockOf(int d) { return QStringLiteral("/tmp/.X%1-lock").arg(d); }
QString socketOf(int d) { return QStringLiteral("/tmp/.X11-unix/X%1").arg(d); }
pid_t lockOwner(int d) {
    QFile lock(lockOf(d));
    return lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toInt() : 0;
}
} // namespace

bool XvfbServer::start(int firstDisplay, QString *error) {
    stop(SIGTERM);
    const QByteArray program = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
    firstDisplay = firstDisplay < 0 ? display_ : firstDisplay;
    for (int d = firstDisplay; !program.isEmpty() && d < firstDisplay + 100; ++d) {
        const QByteArray arg = ":" + QByteArray::number(d);
        const char *argv[] = {program, arg, "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24", nullptr};
        if (QFile::exists(lockOf(d)) || QFile::exists(socketOf(d)) || (pid_ = spawnTestServer(argv, 0, 0)) < 0)
            continue;
        // Up when the lock names this server and it answers; a server that
        // finds the display taken ends at once.
        for (int i = 0; i < 1500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
            xcb_connection_t *c = lockOwner(d) == pid_ ? xcb_connect(arg, nullptr) : nullptr;
            const bool up = c && !xcb_connection_has_error(c);
            if (c)
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
        *error = program.isEmpty() ? "Xvfb is not installed" : "Xvfb did not start";
    pid_ = -1;
    return false;
}

void XvfbServer::stop(int signal) {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGCONT);
    ::kill(pid_, signal);
    if (!reapTestServer(pid_, std::chrono::seconds(5)) && ::kill(pid_, SIGKILL) == 0)
        reapTestServer(pid_, std::chrono::seconds(5));
    // A killed server leaves its socket and lock behind.
    if (const pid_t owner = lockOwner(display_); owner == 0 || owner == pid_) {
        QFile::remove(lockOf(display_));
        QFile::remove(socketOf(display_));
    }
    pid_ = -1;
}

XvfbServer &sharedXvfb() {
    static XvfbServer server;
    if (server.pid() <= 0)
        server.start(140);
    return server;
}

} // namespace lesemund::testing
