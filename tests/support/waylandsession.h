#pragma once
// A private headless Wayland desktop for the tests, kept by
// tests/support/waylandsession.py: weston with a seat and its desktop shell, a
// session bus and the accessibility bus in a runtime folder of their own.
// GtkWindows shows real GTK windows in it, which are on the accessibility bus
// through GTK's own bridge. Everything ends with the test program, even after
// a crash. No event loop is needed: any one thread at a time may use them.
#include "support/serverprocess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcessEnvironment>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace lesemund::testing {

class WaylandSession {
public:
    ~WaylandSession() { stop(); }

    // Starts weston, the session bus and the accessibility bus in a fresh
    // runtime folder and waits until all of them answer.
    bool start(QString *error = nullptr) {
        stop();
        const char *argv[] = {"/usr/bin/python3", LESEMUND_SOURCE_DIR "/tests/support/waylandsession.py", "--serve",
                              LESEMUND_WESTON_SEAT_MODULE, nullptr};
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
            keeper_ = spawnTestServer(argv, nullptr, "/dev/stderr", pair[1], pair[1]); // its errors go to the test's
            ::close(pair[1]);
            fd_ = pair[0];
        }
        if (!command({"start"}, error))
            return false;
        const QVariantMap env = QJsonDocument::fromJson(line({"environment"})).toVariant().toMap();
        for (auto it = env.begin(); it != env.end(); ++it)
            env_.insert(it.key(), it.value().toString());
        return true;
    }

    // Ends all of the session, waiting up to 20 s: the end of its keeper's input ends it.
    void stop() {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
        if (keeper_ > 0 && !reapTestServer(keeper_, std::chrono::seconds(20)) && ::kill(keeper_, SIGKILL) == 0)
            reapTestServer(keeper_, std::chrono::seconds(5));
        keeper_ = -1;
        env_.clear();
    }

    QByteArray runtimeDir() const { return env_.value("XDG_RUNTIME_DIR").toLocal8Bit(); }
    QByteArray waylandDisplay() const { return env_.value("WAYLAND_DISPLAY").toLocal8Bit(); }
    QByteArray sessionBus() const { return env_.value("DBUS_SESSION_BUS_ADDRESS").toLocal8Bit(); }
    // The test's environment in this session.
    QStringList environment() const { return env_.toStringList(); }

    // The accessibility bus goes away as in a crash: its launcher, the bus and the registry are killed.
    bool killAccessibilityBus(QString *error = nullptr) { return command({"kill-a11y"}, error); }
    bool restartAccessibilityBus(QString *error = nullptr) { return command({"restart-a11y"}, error); }
    // The session's accessibility switch, as toolkits read it.
    bool accessibilityOn() { return line({"a11y-on"}) == "true"; }

    // The keeper's answer to a command, without its end; empty when none came
    // within a minute. After that no answer can be told apart any more: the
    // session is stopped.
    QByteArray line(const QStringList &command) {
        const QByteArray text = command.join('\t').toUtf8() + '\n';
        if (fd_ >= 0)
            ::send(fd_, text.constData(), size_t(text.size()), MSG_NOSIGNAL);
        const QDeadlineTimer deadline(std::chrono::minutes(1));
        QByteArray line;
        for (char c = 0; c != '\n'; line += c) {
            pollfd p{fd_, POLLIN, 0};
            if (fd_ < 0 || ::poll(&p, 1, int(deadline.remainingTime())) <= 0 || ::read(fd_, &c, 1) != 1)
                return stop(), QByteArray();
        }
        return line.chopped(1);
    }
    bool command(const QStringList &fields, QString *error = nullptr) {
        const QByteArray reply = line(fields);
        if (reply != "ok" && error)
            *error = reply.isEmpty() ? QString("the Wayland session does not answer") : QString::fromUtf8(reply.mid(6));
        return reply == "ok";
    }

private:
    pid_t keeper_ = -1;
    int fd_ = -1;
    QProcessEnvironment env_;
};

// One GTK 3 application (tests/support/gtkwindows.py) showing windows in a
// session, which ends it at the latest. Each command waits for the
// application's answer, at most 10 s.
class GtkWindows {
public:
    // Starts the application and waits until it is ready for commands.
    bool start(WaylandSession &session, QString *error = nullptr) {
        const QByteArray reply = (session_ = &session)->line({"gtk"});
        if ((pid_ = reply.toInt()) <= 0 && error)
            *error = QString::fromUtf8(reply);
        return pid_ > 0;
    }

    pid_t pid() const { return pid_; }
    bool open(const QString &title) { return command({"open", title}); }
    bool openDialog(const QString &title) { return command({"dialog", title}); }
    bool retitle(const QString &from, const QString &to) { return command({"title", from, to}); }
    bool close(const QString &title) { return command({"close", title}); }
    // Windows "<prefix> 1" to "<prefix> <count>".
    bool openMany(const QString &prefix, int count) { return command({"many", prefix, QString::number(count)}); }
    void stopProcess() { if (pid_ > 0) ::kill(pid_, SIGSTOP); } // as a hung application
    void continueProcess() { if (pid_ > 0) ::kill(pid_, SIGCONT); }
    // Whether the application has ended within `timeout`.
    bool ended(std::chrono::milliseconds timeout) { return command({"ended", QString::number(timeout.count())}); }
    // The application ends by itself; false when it did not within 10 s.
    bool quit() { return command({"quit"}) && ended(std::chrono::seconds(10)); }

private:
    bool command(const QStringList &fields) {
        return session_ && pid_ > 0 && session_->command(QStringList{"gtk", QString::number(pid_)} + fields);
    }

    WaylandSession *session_ = nullptr;
    pid_t pid_ = -1;
};

} // namespace lesemund::testing
