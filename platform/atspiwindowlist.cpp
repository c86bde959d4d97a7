#include "platform/atspiwindowlist.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>

namespace lesemund::platform {

QString noAccessibilityBusNotice() {
    return QString::fromUtf8("Das aktive Fenster kann auf diesem Desktop nicht gelesen werden, weil es keinen "
                             "Barrierefreiheitsdienst gibt. Bitte die Barrierefreiheit des Desktops einschalten: "
                             "das Paket at-spi2-core installieren und neu anmelden.");
}

namespace {

const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kDBus = QStringLiteral("org.freedesktop.DBus");
const QString kStatus = QStringLiteral("org.a11y.Status");

// Bits of an accessible's state set and the roles of windows with a frame.
constexpr uint kActive = 1, kDefunct = 6, kIconified = 15, kShowing = 25;
constexpr uint kRoleAlert = 2, kRoleDialog = 16, kRoleFileChooser = 19, kRoleFiller = 20, kRoleFrame = 23;

// The events that keep the picture up to date. Applications send only the
// events somebody has asked the registry for.
const char *const kEvents[] = {"window:", "object:property-change:accessible-name"};

bool isTimeout(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout");
}

// The (bus name, object path) pairs of an a(so) answer; nothing for an
// answer of another shape.
QList<QPair<QString, QString>> references(const QDBusMessage &reply) {
    QList<QPair<QString, QString>> out;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return out;
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(so)"))
        return out;
    arg.beginArray();
    while (!arg.atEnd()) {
        QString bus;
        QDBusObjectPath path;
        arg.beginStructure();
        arg >> bus >> path;
        arg.endStructure();
        out.append({bus, path.path()});
    }
    arg.endArray();
    return out;
}

// The first 32 bits of an au state set; nullopt for another shape.
std::optional<quint32> firstStateWord(const QDBusMessage &reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("au"))
        return std::nullopt;
    quint32 word = 0;
    arg.beginArray();
    if (!arg.atEnd())
        arg >> word;
    while (!arg.atEnd()) {
        quint32 rest;
        arg >> rest;
    }
    arg.endArray();
    return word;
}

// A single answer of one basic type, as `T`.
template <typename T> std::optional<T> single(const QDBusMessage &reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    QVariant v = reply.arguments().at(0);
    if (v.userType() == qMetaTypeId<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    if (v.userType() != qMetaTypeId<T>())
        return std::nullopt;
    return v.value<T>();
}

// A window's name as its title: at most 64 K characters, as on X11, so that
// a program giving its window a book for a name cannot flood the speech.
QString titleOf(const QString &name) { return name.left(65536); }

struct Window {
    qint64 handle = 0;
    QString title;
    uint role = 0;
    quint32 state = 0;
    // Higher is more recently active or seen.
    quint64 rank = 0;
    // Role, state and name have all been read.
    bool complete = false;
};

struct Application {
    QString rootPath;
    qint32 processId = 0;
    // False while the application does not answer within the timeout.
    bool answering = true;
    // A window query to it is on its way.
    bool asking = false;
    QHash<QString, Window> windows;
};

Application application(const QString &rootPath) {
    Application app;
    app.rootPath = rootPath;
    return app;
}

} // namespace

// Lives on the list's own thread and does all the talking to the buses.
class AtspiWatcher : public QObject {
    Q_OBJECT

public:
    AtspiWatcher(AtspiWindowList::Settings settings, std::function<void(WindowSnapshot, bool)> publish)
        : settings_(std::move(settings)), publish_(std::move(publish)) {}

    std::atomic<int> connections{0};
    std::atomic<bool> connected{false};

public slots:
    void begin() {
        tick_ = new QTimer(this);
        tick_->setInterval(std::max(10, settings_.refreshIntervalMs));
        connect(tick_, &QTimer::timeout, this, &AtspiWatcher::tick);
        tick_->start();
        tick();
    }

    void finish() {
        delete tick_;
        tick_ = nullptr;
        leave();
        if (switchedOn_ && session_.isConnected()) {
            // Back as it was. A short wait: the program is ending.
            QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                            kProperties, QStringLiteral("Set"));
            m.setArguments({kStatus, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(false))});
            session_.call(m, QDBus::Block, 250);
        }
        if (session_.isConnected() || !sessionName_.isEmpty())
            QDBusConnection::disconnectFromBus(sessionName_);
        deleteLater();
        thread()->quit();
    }

    // Any signal of the bus's applications.
    void event(const QDBusMessage &message) {
        if (!connected)
            return;
        const QString bus = message.service();
        const QString path = message.path();
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        const QString detail = args.value(0).toString();
        const int detail1 = args.value(1).toInt();
        if (message.interface() == QLatin1String("org.a11y.atspi.Event.Object") && member == QLatin1String("ChildrenChanged")) {
            // The registry's children are the applications.
            if (path == kRootPath && bus == registryOwner_)
                askRegistry();
            return;
        }
        auto app = apps_.find(bus);
        if (app == apps_.end()) {
            // An application not seen yet: read it whole.
            if (member == QLatin1String("Activate") || member == QLatin1String("Create") ||
                member == QLatin1String("StateChanged")) {
                apps_.insert(bus, application(kRootPath));
                askProcessId(bus);
                askWindows(bus);
            }
            return;
        }
        if (member == QLatin1String("Destroy")) {
            if (app->windows.remove(path))
                publish();
            return;
        }
        auto window = app->windows.find(path);
        if (window == app->windows.end()) {
            if (member == QLatin1String("Create") || member == QLatin1String("Activate") ||
                (member == QLatin1String("StateChanged") && detail == QLatin1String("active") && detail1))
                askWindows(bus);
            return;
        }
        if (member == QLatin1String("Activate") || member == QLatin1String("Deactivate")) {
            setState(*window, kActive, member == QLatin1String("Activate"));
        } else if (member == QLatin1String("Minimize") || member == QLatin1String("Restore")) {
            setState(*window, kIconified, member == QLatin1String("Minimize"));
        } else if (member == QLatin1String("StateChanged")) {
            const uint bit = detail == QLatin1String("active")      ? kActive
                             : detail == QLatin1String("showing")   ? kShowing
                             : detail == QLatin1String("iconified") ? kIconified
                             : detail == QLatin1String("defunct")   ? kDefunct
                                                                    : 0;
            if (bit == kDefunct && detail1) {
                app->windows.erase(window);
                publish();
                return;
            }
            if (bit)
                setState(*window, bit, detail1 != 0);
        } else if (member == QLatin1String("PropertyChange") && detail == QLatin1String("accessible-name")) {
            QVariant v = args.value(3);
            if (v.userType() == qMetaTypeId<QDBusVariant>())
                v = v.value<QDBusVariant>().variant();
            if (v.userType() == QMetaType::QString)
                window->title = titleOf(v.toString());
        } else {
            return;
        }
        publish();
    }

    // The bus daemon's word that a connection has ended.
    void nameOwnerChanged(const QString &name, const QString &, const QString &newOwner) {
        if (newOwner.isEmpty() && apps_.remove(name))
            publish();
    }

private:
    void tick() {
        if (connected && !a11y_.isConnected())
            leave();
        if (!connected) {
            find();
            return;
        }
        askRegistry();
        for (auto it = apps_.begin(); it != apps_.end(); ++it)
            askWindows(it.key());
    }

    // Looks for the accessibility bus, at most once per reconnect interval.
    void find() {
        if (finding_ || (sinceAttempt_.isValid() && sinceAttempt_.elapsed() < settings_.reconnectIntervalMs))
            return;
        sinceAttempt_.start();
        QString address = settings_.accessibilityBus;
        if (address.isEmpty())
            address = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
        if (!openSession()) {
            if (address.isEmpty())
                return missing();
        } else if (settings_.switchAccessibilityOn && !askedStatus_) {
            askedStatus_ = true;
            switchAccessibilityOn();
        }
        if (!address.isEmpty())
            return join(address);
        finding_ = true;
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        ask(session_, m, generation_, [this](const QDBusMessage &reply) {
            finding_ = false;
            const auto address = single<QString>(reply);
            if (!address || address->isEmpty())
                return missing();
            join(*address);
        });
    }

    bool openSession() {
        if (session_.isConnected())
            return true;
        if (!sessionName_.isEmpty())
            QDBusConnection::disconnectFromBus(sessionName_);
        sessionName_ = QStringLiteral("lesemund-session-%1").arg(quintptr(this));
        session_ = settings_.sessionBus.isEmpty()
                       ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, sessionName_)
                       : QDBusConnection::connectToBus(settings_.sessionBus, sessionName_);
        return session_.isConnected();
    }

    void switchAccessibilityOn() {
        QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                          kProperties, QStringLiteral("Get"));
        get.setArguments({kStatus, QStringLiteral("IsEnabled")});
        // Answers about the session hold whatever happens to the
        // accessibility bus meanwhile.
        ask(session_, get, kAlways, [this](const QDBusMessage &reply) {
            if (single<bool>(reply) != false)
                return;
            QDBusMessage set = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                              kProperties, QStringLiteral("Set"));
            set.setArguments({kStatus, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
            ask(session_, set, kAlways, [this](const QDBusMessage &done) {
                switchedOn_ = done.type() == QDBusMessage::ReplyMessage;
            });
        });
    }

    void missing() {
        missing_ = true;
        publish();
    }

    void join(const QString &address) {
        a11yName_ = QStringLiteral("lesemund-a11y-%1").arg(++joins_);
        a11y_ = QDBusConnection::connectToBus(address, a11yName_);
        if (!a11y_.isConnected()) {
            QDBusConnection::disconnectFromBus(a11yName_);
            return missing();
        }
        ++generation_;
        connected = true;
        ++connections;
        missing_ = false;
        const QString object = QStringLiteral("org.a11y.atspi.Event.Object");
        // Only the changes the picture needs reach this thread: programs
        // send many others (selection, focus) to other listeners.
        for (const char *detail : {"active", "showing", "iconified", "defunct"})
            a11y_.connect({}, {}, object, QStringLiteral("StateChanged"), {QLatin1String(detail)}, {}, this,
                          SLOT(event(QDBusMessage)));
        a11y_.connect({}, {}, object, QStringLiteral("PropertyChange"), {QStringLiteral("accessible-name")}, {}, this,
                      SLOT(event(QDBusMessage)));
        a11y_.connect(kRegistry, kRootPath, object, QStringLiteral("ChildrenChanged"), this, SLOT(event(QDBusMessage)));
        a11y_.connect({}, {}, QStringLiteral("org.a11y.atspi.Event.Window"), {}, this, SLOT(event(QDBusMessage)));
        a11y_.connect(kDBus, QStringLiteral("/org/freedesktop/DBus"), kDBus, QStringLiteral("NameOwnerChanged"), this,
                      SLOT(nameOwnerChanged(QString, QString, QString)));
        for (const char *name : kEvents) {
            QDBusMessage m = QDBusMessage::createMethodCall(kRegistry, QStringLiteral("/org/a11y/atspi/registry"),
                                                            QStringLiteral("org.a11y.atspi.Registry"),
                                                            QStringLiteral("RegisterEvent"));
            m.setArguments({QString::fromLatin1(name), QStringList(), QString()});
            a11y_.call(m, QDBus::NoBlock);
        }
        QDBusMessage owner = QDBusMessage::createMethodCall(kDBus, QStringLiteral("/org/freedesktop/DBus"), kDBus,
                                                            QStringLiteral("GetNameOwner"));
        owner.setArguments({kRegistry});
        ask(a11y_, owner, generation_, [this](const QDBusMessage &reply) {
            registryOwner_ = single<QString>(reply).value_or(QString());
        });
        askRegistry();
        publish();
    }

    void leave() {
        if (!a11yName_.isEmpty())
            QDBusConnection::disconnectFromBus(a11yName_);
        a11yName_.clear();
        a11y_ = QDBusConnection(QString());
        ++generation_;
        apps_.clear();
        askingRegistry_ = false;
        if (connected) {
            connected = false;
            sinceAttempt_.invalidate();
        }
        publish();
    }

    // Sends `message` and hands its answer (or error) to `done` on this
    // thread, unless the bus was left or joined anew in between.
    void ask(const QDBusConnection &bus, const QDBusMessage &message, quint64 generation,
             std::function<void(const QDBusMessage &)> done) {
        auto *watch = new QDBusPendingCallWatcher(bus.asyncCall(message, settings_.callTimeoutMs), this);
        connect(watch, &QDBusPendingCallWatcher::finished, this, [this, watch, generation, done = std::move(done)] {
            watch->deleteLater();
            if (generation == generation_ || generation == kAlways)
                done(watch->reply());
        });
    }

    void askRegistry() {
        if (askingRegistry_)
            return;
        askingRegistry_ = true;
        QDBusMessage m = QDBusMessage::createMethodCall(kRegistry, kRootPath, kAccessible, QStringLiteral("GetChildren"));
        ask(a11y_, m, generation_, [this](const QDBusMessage &reply) {
            askingRegistry_ = false;
            if (reply.type() != QDBusMessage::ReplyMessage)
                return;
            QHash<QString, QString> present;
            for (const auto &[bus, path] : references(reply))
                present.insert(bus, path);
            bool changed = false;
            for (auto it = apps_.begin(); it != apps_.end();) {
                if (present.contains(it.key())) {
                    ++it;
                } else {
                    it = apps_.erase(it);
                    changed = true;
                }
            }
            for (auto it = present.cbegin(); it != present.cend(); ++it) {
                if (apps_.contains(it.key()))
                    continue;
                apps_.insert(it.key(), application(it.value()));
                askProcessId(it.key());
                askWindows(it.key());
            }
            if (changed)
                publish();
        });
    }

    void askProcessId(const QString &bus) {
        QDBusMessage m = QDBusMessage::createMethodCall(kDBus, QStringLiteral("/org/freedesktop/DBus"), kDBus,
                                                        QStringLiteral("GetConnectionUnixProcessID"));
        m.setArguments({bus});
        ask(a11y_, m, generation_, [this, bus](const QDBusMessage &reply) {
            auto app = apps_.find(bus);
            const auto pid = single<uint>(reply);
            if (app == apps_.end() || !pid || *pid > uint(std::numeric_limits<qint32>::max()))
                return;
            app->processId = qint32(*pid);
            publish();
        });
    }

    // Asks an application for its top-level windows and reads the new ones.
    void askWindows(const QString &bus) {
        auto app = apps_.find(bus);
        if (app == apps_.end() || app->asking)
            return;
        app->asking = true;
        QDBusMessage m = QDBusMessage::createMethodCall(bus, app->rootPath, kAccessible, QStringLiteral("GetChildren"));
        ask(a11y_, m, generation_, [this, bus](const QDBusMessage &reply) {
            auto app = apps_.find(bus);
            if (app == apps_.end())
                return;
            app->asking = false;
            if (isTimeout(reply)) {
                if (app->answering) {
                    app->answering = false;
                    publish();
                }
                return;
            }
            if (reply.type() != QDBusMessage::ReplyMessage) {
                apps_.erase(app);
                publish();
                return;
            }
            const bool back = !app->answering;
            app->answering = true;
            QSet<QString> present;
            for (const auto &[owner, path] : references(reply)) {
                // A window always belongs to the application that lists it.
                if (owner != bus)
                    continue;
                present.insert(path);
                if (back || !app->windows.contains(path))
                    askWindow(bus, path);
            }
            bool changed = back;
            for (auto it = app->windows.begin(); it != app->windows.end();) {
                if (present.contains(it.key())) {
                    ++it;
                } else {
                    it = app->windows.erase(it);
                    changed = true;
                }
            }
            if (changed)
                publish();
        });
    }

    // Reads one window's role, state and name; it joins the picture once all
    // three are known.
    void askWindow(const QString &bus, const QString &path) {
        auto app = apps_.find(bus);
        Window &w = app->windows[path];
        if (!w.handle)
            w.handle = ++handles_;
        w.complete = false;
        auto left = std::make_shared<int>(3);
        auto answered = [this, bus, path, left](const QDBusMessage &reply, const std::function<void(Window &)> &take) {
            auto app = apps_.find(bus);
            if (app == apps_.end())
                return;
            auto w = app->windows.find(path);
            if (w == app->windows.end())
                return;
            if (reply.type() != QDBusMessage::ReplyMessage) {
                // Gone, or not answering: a later check of the application
                // sorts out which.
                app->windows.erase(w);
                if (isTimeout(reply))
                    app->answering = false;
                publish();
                return;
            }
            take(*w);
            if (--*left == 0) {
                w->complete = true;
                w->rank = ++ranks_;
                if (w->state & (1u << kDefunct))
                    app->windows.erase(w);
                publish();
            }
        };
        QDBusMessage role = QDBusMessage::createMethodCall(bus, path, kAccessible, QStringLiteral("GetRole"));
        ask(a11y_, role, generation_, [answered](const QDBusMessage &reply) {
            answered(reply, [&](Window &w) { w.role = single<uint>(reply).value_or(0); });
        });
        QDBusMessage state = QDBusMessage::createMethodCall(bus, path, kAccessible, QStringLiteral("GetState"));
        ask(a11y_, state, generation_, [answered](const QDBusMessage &reply) {
            answered(reply, [&](Window &w) { w.state = firstStateWord(reply).value_or(0); });
        });
        QDBusMessage name = QDBusMessage::createMethodCall(bus, path, kProperties, QStringLiteral("Get"));
        name.setArguments({kAccessible, QStringLiteral("Name")});
        ask(a11y_, name, generation_, [answered](const QDBusMessage &reply) {
            answered(reply, [&](Window &w) { w.title = titleOf(single<QString>(reply).value_or(QString())); });
        });
    }

    void setState(Window &w, uint bit, bool on) {
        const quint32 mask = 1u << bit;
        w.state = on ? (w.state | mask) : (w.state & ~mask);
        if (bit == kActive && on)
            w.rank = ++ranks_;
    }

    void publish() {
        WindowSnapshot s;
        s.available = connected;
        if (connected) {
            s.desktop = WindowInfo{1, QString(), true, false, 0};
            std::vector<std::pair<const Window *, qint32>> found;
            for (const Application &app : std::as_const(apps_)) {
                if (!app.answering)
                    continue;
                for (const Window &w : app.windows)
                    if (w.complete)
                        found.emplace_back(&w, app.processId);
            }
            std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
                const bool activeA = a.first->state & (1u << kActive), activeB = b.first->state & (1u << kActive);
                return activeA != activeB ? activeA : a.first->rank > b.first->rank;
            });
            s.windows.reserve(found.size());
            for (const auto &[w, pid] : found) {
                const bool visible = (w->state & (1u << kShowing)) && !(w->state & (1u << kIconified));
                // A Qt program's window made of a plain widget is a filler
                // at the top; the desktop frames it like any other.
                const bool border = w->role == kRoleFrame || w->role == kRoleDialog || w->role == kRoleAlert ||
                                    w->role == kRoleFileChooser || w->role == kRoleFiller;
                s.windows.push_back(WindowInfo{w->handle, w->title, visible, border, pid});
            }
        }
        publish_(std::move(s), missing_);
    }

    static constexpr quint64 kAlways = ~quint64(0);
    AtspiWindowList::Settings settings_;
    std::function<void(WindowSnapshot, bool)> publish_;
    QTimer *tick_ = nullptr;
    QDBusConnection session_{QString()};
    QString sessionName_;
    QDBusConnection a11y_{QString()};
    QString a11yName_;
    QString registryOwner_;
    int joins_ = 0;
    quint64 generation_ = 0;
    qint64 handles_ = 1;
    quint64 ranks_ = 0;
    QElapsedTimer sinceAttempt_;
    bool finding_ = false;
    bool missing_ = false;
    bool askedStatus_ = false;
    bool switchedOn_ = false;
    bool askingRegistry_ = false;
    QHash<QString, Application> apps_;
};

struct AtspiWindowList::Impl {
    mutable std::mutex lock;
    WindowSnapshot picture;
    bool missing = false;
    QThread *thread = nullptr;
    AtspiWatcher *watcher = nullptr;
};

AtspiWindowList::AtspiWindowList() : AtspiWindowList(Settings{}) {}

AtspiWindowList::AtspiWindowList(Settings settings) : d(std::make_unique<Impl>()) {
    Impl *impl = d.get();
    d->watcher = new AtspiWatcher(std::move(settings), [impl](WindowSnapshot s, bool missing) {
        const std::lock_guard<std::mutex> guard(impl->lock);
        impl->picture = std::move(s);
        impl->missing = missing;
    });
    d->thread = new QThread;
    d->thread->setObjectName(QStringLiteral("lesemund-atspi"));
    d->watcher->moveToThread(d->thread);
    d->thread->start();
    QMetaObject::invokeMethod(d->watcher, &AtspiWatcher::begin, Qt::QueuedConnection);
}

AtspiWindowList::~AtspiWindowList() {
    QMetaObject::invokeMethod(d->watcher, &AtspiWatcher::finish, Qt::QueuedConnection);
    if (d->thread->wait(QDeadlineTimer(1000))) {
        delete d->thread;
    } else {
        // Stuck in joining a bus that does not answer: left behind rather
        // than holding up the end of the program. It no longer publishes.
        const std::lock_guard<std::mutex> guard(d->lock);
        d.release();
    }
}

WindowSnapshot AtspiWindowList::snapshot() {
    const std::lock_guard<std::mutex> guard(d->lock);
    return d->picture;
}

QString AtspiWindowList::unreadableNotice() const {
    const std::lock_guard<std::mutex> guard(d->lock);
    return d->missing ? noAccessibilityBusNotice() : QString();
}

bool AtspiWindowList::isConnected() const { return d->watcher->connected; }

int AtspiWindowList::connections() const { return d->watcher->connections; }

} // namespace lesemund::platform

#include "atspiwindowlist.moc"
