#pragma once
// A private headless Wayland desktop for the tests: weston with a seat and its
// desktop shell, a session bus and the accessibility bus, all in a runtime
// folder of their own. GtkWindows shows real GTK windows in it, which are on
// the accessibility bus through GTK's own bridge. Everything ends with the
// test program, even after a crash.
#include "support/serverprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace lesemund::testing {

namespace detail {

// The null-terminated list of `strings`, valid while they are.
inline std::vector<const char *> pointers(const std::vector<QByteArray> &strings) {
    std::vector<const char *> result;
    for (const QByteArray &s : strings)
        result.push_back(s.constData());
    result.push_back(nullptr);
    return result;
}
// A line from `fd`, without its end; empty when none came within `timeoutMs`.
inline QByteArray readLine(int fd, int timeoutMs, QByteArray *pending = nullptr) {
    QByteArray own, &buffer = pending ? *pending : own;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!buffer.contains('\n')) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        char chunk[4096];
        ssize_t n = 0;
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0 || (n = ::read(fd, chunk, sizeof chunk)) <= 0)
            return {};
        buffer.append(chunk, n);
    }
    const qsizetype eol = buffer.indexOf('\n');
    const QByteArray line = buffer.left(eol);
    buffer.remove(0, eol + 1);
    return line;
}

// The end of a log, for an error message.
inline QString tail(const QByteArray &path) {
    QFile file(QFile::decodeName(path));
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll().right(800) : QByteArray("(no log)");
    return QString::fromLocal8Bit(text).trimmed();
}

} // namespace detail

namespace atspi {

inline QDBusMessage call(const QDBusConnection &bus, const QString &service, const QString &path, const QString &interface,
                         const QString &method, const QVariantList &arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 2000);
}

inline QVariant answer(const QDBusMessage &reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() ? reply.arguments().at(0) : QVariant();
}

// The process of a bus name (the bus itself: "org.freedesktop.DBus"); 0 when unknown.
inline qint64 processOf(const QDBusConnection &bus, const QString &name) {
    return answer(call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "GetConnectionUnixProcessID", {name}))
        .toLongLong();
}

} // namespace atspi

class WaylandSession {
public:
    ~WaylandSession() { stop(); }

    // Starts weston, the session bus and the accessibility bus in a fresh
    // runtime folder and waits until all of them answer.
    bool start(QString *error = nullptr) {
        stop();
        dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/lesemund-wayland-XXXXXX");
        const QByteArray d = runtimeDir();
        if (!dir_->isValid() || ::chmod(d, 0700) != 0)
            return fail(error, "no runtime folder");
        sessionBus_ = "unix:path=" + d + "/bus";
        // No animations: a window is active as soon as the shell says so.
        write("weston.ini", "[core]\nidle-time=0\n[shell]\npanel-position=none\nanimation=none\nclose-animation=none\n"
                            "startup-animation=none\nfocus-animation=none\n");
        // A session bus that starts no services: nothing of the desktop's own is started into this session.
        write("session.conf", "<busconfig><type>session</type><listen>" + sessionBus_ + "</listen><auth>EXTERNAL</auth>"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        const std::vector<QByteArray> env = environment();
        const std::vector<const char *> envp = detail::pointers(env);
        int printed[2];
        if (::pipe2(printed, O_CLOEXEC) != 0)
            return fail(error, "no pipe");
        const QByteArray conf = "--config-file=" + d + "/session.conf";
        const char *dbusArgv[] = {"/usr/bin/dbus-daemon", conf, "--nofork", "--print-address=1", nullptr};
        dbus_ = spawnTestServer(dbusArgv, envp.data(), d + "/dbus.log", printed[1]);
        ::close(printed[1]);
        const QByteArray socket = "--socket=" + waylandDisplay(), config = "--config=" + d + "/weston.ini";
        const QByteArray modules = "--modules=" LESEMUND_WESTON_SEAT_MODULE;
        const char *westonArgv[] = {"/usr/bin/weston", "--backend=headless-backend.so", socket, "--shell=desktop-shell.so",
                                    modules, "--idle-time=0", config, nullptr};
        const int westonLog = ::open(d + "/weston.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        weston_ = spawnTestServer(westonArgv, envp.data(), d + "/weston.log", westonLog);
        ::close(westonLog);
        const bool busUp = !detail::readLine(printed[0], 5000).isEmpty();
        ::close(printed[0]);
        if (!busUp)
            return fail(error, "the session bus did not start: " + detail::tail(d + "/dbus.log"));
        if (!startAccessibilityBus(error))
            return false;
        const auto listening = [&] { return QFile::exists(d + "/" + waylandDisplay()); };
        if (waitFor([&] { return listening() || process(weston_).first == "Z"; }, std::chrono::seconds(5)), !listening())
            return fail(error, "weston did not start: " + detail::tail(d + "/weston.log"));
        return true;
    }

    void stop() {
        killAccessibilityBus();
        for (pid_t *pid : {&weston_, &dbus_}) { // weston ends its own clients
            if (*pid > 0 && ::kill(*pid, SIGTERM) == 0 && !reapTestServer(*pid, std::chrono::seconds(5))) {
                ::kill(*pid, SIGKILL);
                reapTestServer(*pid, std::chrono::seconds(5));
            }
            *pid = -1;
        }
        if (!sessionName_.isEmpty())
            QDBusConnection::disconnectFromBus(sessionName_);
        sessionName_.clear();
        sessionBus_.clear();
        dir_.reset();
    }

    QByteArray runtimeDir() const { return dir_ ? QFile::encodeName(dir_->path()) : QByteArray(); }
    QByteArray waylandDisplay() const { return "wayland-lesemund"; }
    QByteArray sessionBus() const { return sessionBus_; }
    QByteArray accessibilityBus() const { return a11yBus_; }
    // A connection of the test to the accessibility bus (not connected while it is away).
    QDBusConnection accessibilityConnection() const { return QDBusConnection(a11yName_); }

    // The test's own environment in this session.
    std::vector<QByteArray> environment() const {
        // Settings live in memory: the session's accessibility switch, which
        // the accessibility bus keeps in the desktop's settings, never
        // touches the user's own.
        const QByteArray own[] = {"XDG_RUNTIME_DIR=" + runtimeDir(), "WAYLAND_DISPLAY=" + waylandDisplay(),
                                  "DBUS_SESSION_BUS_ADDRESS=" + sessionBus_, "XDG_SESSION_TYPE=wayland",
                                  "GSETTINGS_BACKEND=memory"};
        std::vector<QByteArray> result(std::begin(own), std::end(own));
        for (char **e = environ; *e; ++e) {
            const QByteArray entry(*e), name = entry.left(entry.indexOf('='));
            // NO_AT_BRIDGE would keep GTK off the accessibility bus.
            static const QByteArrayList replaced = {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE",
                                                    "DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "GSETTINGS_BACKEND"};
            if (!replaced.contains(name))
                result.push_back(entry);
        }
        return result;
    }

    // The accessibility bus goes away as in a crash: its launcher, the bus and the registry are killed.
    void killAccessibilityBus() {
        std::vector<qint64> pids; // the bus, a child of the launcher, and the registry, which the bus started
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
            if (launcher_ > 0 && process(entry.toLongLong()).second == launcher_)
                pids.push_back(entry.toLongLong());
        if (const QDBusConnection a11y = accessibilityConnection(); a11y.isConnected())
            pids.push_back(atspi::processOf(a11y, "org.a11y.atspi.Registry"));
        if (!a11yName_.isEmpty())
            QDBusConnection::disconnectFromBus(a11yName_);
        a11yName_.clear();
        a11yBus_.clear();
        if (launcher_ > 0) {
            ::kill(launcher_, SIGKILL);
            reapTestServer(launcher_, std::chrono::seconds(5));
        }
        launcher_ = -1;
        for (const qint64 pid : pids) // not children of the test: gone once they are zombies
            if (pid > 0 && ::kill(pid_t(pid), SIGKILL) == 0)
                waitFor([pid] { return process(pid).first.isEmpty() || process(pid).first == "Z"; }, std::chrono::seconds(5));
    }

    bool restartAccessibilityBus(QString *error = nullptr) {
        killAccessibilityBus();
        return startAccessibilityBus(error);
    }

private:
    // Starts at-spi-bus-launcher and waits until the bus it announces on the
    // session bus has its registry. The launcher is not killed with the test:
    // it ends the bus it launched once the session bus is gone, which is.
    bool startAccessibilityBus(QString *error) {
        const QByteArray d = runtimeDir();
        if (sessionName_.isEmpty())
            sessionName_ = "lesemund-session-" + QString::fromLocal8Bit(d);
        const QDBusConnection session = QDBusConnection::connectToBus(QString::fromLatin1(sessionBus_), sessionName_);
        const auto owned = [&] { return session.interface()->isServiceRegistered("org.a11y.Bus").value(); };
        if (!session.isConnected() || !waitFor([&] { return !owned(); }, std::chrono::seconds(5)))
            return fail(error, "the session bus does not answer, or an accessibility bus is still on it");
        const std::vector<QByteArray> env = environment();
        const std::vector<const char *> envp = detail::pointers(env);
        const char *argv[] = {"/usr/libexec/at-spi-bus-launcher", "--launch-immediately", nullptr};
        launcher_ = spawnTestServer(argv, envp.data(), d + "/launcher.log", -1, -1, false);
        const auto announced = [&] {
            a11yBus_ = atspi::answer(atspi::call(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress")).toString().toUtf8();
            return !a11yBus_.isEmpty();
        };
        if (!waitFor(announced, std::chrono::seconds(5)))
            return fail(error, "at-spi-bus-launcher gives no bus: " + detail::tail(d + "/launcher.log"));
        a11yName_ = "lesemund-a11y-" + QString::fromLatin1(a11yBus_);
        const QDBusConnection a11y = QDBusConnection::connectToBus(QString::fromLatin1(a11yBus_), a11yName_);
        // The registry is started by the bus when first asked.
        const auto registry = [&] {
            return atspi::call(a11y, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", "org.a11y.atspi.Accessible",
                               "GetChildren").type() == QDBusMessage::ReplyMessage;
        };
        if (!waitFor([&] { return a11y.isConnected() && registry(); }, std::chrono::seconds(5)))
            return fail(error, "the accessibility bus has no registry: " + detail::tail(d + "/launcher.log"));
        return true;
    }

    // The state and parent of a process (empty and 0 when there is none).
    static std::pair<QByteArray, qint64> process(qint64 pid) {
        QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray stat = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        return {fields.value(0), fields.value(1).toLongLong()};
    }
    void write(const char *name, const QByteArray &text) {
        if (QFile file(dir_->filePath(name)); file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    bool fail(QString *error, const QString &why) {
        if (error)
            *error = why;
        return false;
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    pid_t weston_ = -1, dbus_ = -1, launcher_ = -1;
    QByteArray sessionBus_, a11yBus_;
    QString sessionName_, a11yName_;
};

// One GTK 3 application (tests/support/gtkwindows.py) showing windows in a
// session. Each command waits for the application's answer, at most 10 s.
class GtkWindows {
public:
    ~GtkWindows() { end(); }

    // Starts the application and waits until it is ready for commands.
    bool start(const WaylandSession &session, QString *error = nullptr) {
        end();
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        std::vector<QByteArray> env = session.environment();
        env.push_back("GDK_BACKEND=wayland");
        const std::vector<const char *> envp = detail::pointers(env);
        const char *argv[] = {"/usr/bin/python3", LESEMUND_SOURCE_DIR "/tests/support/gtkwindows.py", nullptr};
        const QByteArray log = session.runtimeDir() + "/gtkwindows-" + QByteArray::number(++started()) + ".log";
        pid_ = spawnTestServer(argv, envp.data(), log, pair[1], pair[1]);
        ::close(pair[1]);
        fd_ = pair[0];
        if (pid_ > 0 && detail::readLine(fd_, 10000, &pending_) == "ready")
            return true;
        end();
        if (error)
            *error = "the GTK application did not start: " + detail::tail(log);
        return false;
    }

    pid_t pid() const { return pid_; }
    bool open(const QString &title) { return command({"open", title}); }
    bool openDialog(const QString &title) { return command({"dialog", title}); }
    bool retitle(const QString &from, const QString &to) { return command({"title", from, to}); }
    bool close(const QString &title) { return command({"close", title}); }
    // Windows "<prefix> 1" to "<prefix> <count>".
    bool openMany(const QString &prefix, int count) { return command({"many", prefix, QString::number(count)}); }
    void stopProcess() { signal(SIGSTOP); } // as a hung application
    void continueProcess() { signal(SIGCONT); }
    // The application ends by itself; false when it had to be killed.
    bool quit() {
        const bool ended = command({"quit"}) && reapTestServer(pid_, std::chrono::seconds(10));
        if (ended)
            pid_ = -1;
        end();
        return ended;
    }

private:
    static int &started() {
        static int count = 0;
        return count;
    }
    // One command, tab-separated; true when it was done. After an answer that
    // did not come, no more answers can be told apart: every command fails.
    bool command(const QStringList &fields) {
        const QByteArray line = fields.join('\t').toUtf8() + '\n';
        if (fd_ < 0 || ::send(fd_, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size())
            return false;
        const QByteArray reply = detail::readLine(fd_, 10000, &pending_);
        if (reply.isEmpty()) {
            ::close(fd_);
            fd_ = -1;
        }
        return reply == "ok";
    }
    void signal(int s) {
        if (pid_ > 0)
            ::kill(pid_, s);
    }
    void end() {
        if (pid_ > 0) {
            ::kill(pid_, SIGCONT);
            ::kill(pid_, SIGKILL);
            reapTestServer(pid_, std::chrono::seconds(5));
        }
        pid_ = -1;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        pending_.clear();
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    QByteArray pending_;
};

} // namespace lesemund::testing
