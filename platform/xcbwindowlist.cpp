#include "platform/xcbwindowlist.h"

#include "docreaders/codepage.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace lesemund::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The longest title read, in 4-byte units.
constexpr uint32_t TitleLongs = 16384;
// The longest stacking list read, in windows.
constexpr uint32_t StackingLongs = 65536;

enum Atom {
    NetSupportingWmCheck,
    NetClientListStacking,
    NetWmName,
    NetWmPid,
    NetWmWindowType,
    Utf8String,
    CompoundText,
    MotifWmHints,
    TypeNormal,
    TypeDialog,
    TypeUtility,
    TypeToolbar,
    TypeDesktop,
    TypeDock,
    TypeMenu,
    TypeDropdownMenu,
    TypePopupMenu,
    TypeTooltip,
    TypeNotification,
    TypeCombo,
    TypeDnd,
    TypeSplash,
    AtomCount
};

constexpr std::array<const char *, AtomCount> AtomNames = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "_MOTIF_WM_HINTS",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_SPLASH",
};

// Blocks SIGPIPE on this thread while X traffic runs and swallows one that
// a write to a closed connection raised, so a vanished server can never end
// the process.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

// A connection attempt running on its own thread. The thread owns nothing
// but this shared record; an attempt whose owner has gone closes its
// connection itself.
struct PendingConnect {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    xcb_connection_t *connection = nullptr;
    int screen = 0;
};

template <typename Reply>
struct Freed {
    Reply *reply = nullptr;
    Freed() = default;
    explicit Freed(void *r) : reply(static_cast<Reply *>(r)) {}
    Freed(Freed &&other) noexcept : reply(other.reply) { other.reply = nullptr; }
    Freed &operator=(Freed &&other) noexcept {
        std::swap(reply, other.reply);
        return *this;
    }
    ~Freed() { std::free(reply); }
    Reply *operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

using PropertyReply = Freed<xcb_get_property_reply_t>;

// Cuts a UTF-8 sequence that the length limit split in two.
QByteArray trimSplitUtf8(QByteArray bytes) {
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= 4 && back <= n; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[n - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // continuation byte: look further back
        if (byte >= 0xC0) {
            const int needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            if (back < needed)
                bytes.truncate(n - back);
        }
        break;
    }
    return bytes;
}

// Leaves out the escape sequences of COMPOUND_TEXT that switch character
// sets; what remains is read as Latin-1, the text's initial set.
QByteArray stripCompoundEscapes(const QByteArray &bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\x1b') {
            out.append(bytes[i]);
            continue;
        }
        // ESC, intermediate bytes 0x20..0x2F, one final byte 0x30..0x7E.
        ++i;
        while (i < bytes.size() && bytes[i] >= 0x20 && bytes[i] <= 0x2F)
            ++i;
    }
    return out;
}

bool sameHost(QByteArray a, QByteArray b) {
    a = a.toLower();
    b = b.toLower();
    if (a == b || a == "localhost")
        return true;
    // A short name against a fully qualified one.
    return (a.startsWith(b) && a.at(b.size()) == '.') || (b.startsWith(a) && b.at(a.size()) == '.');
}

} // namespace

struct XcbWindowList::Impl {
    Settings settings;
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    std::array<xcb_atom_t, AtomCount> atoms{};
    bool atomsReady = false;
    std::shared_ptr<PendingConnect> pending;
    Clock::time_point nextAttempt = Clock::time_point::min();
    int attempts = 0;
    QByteArray hostName;

    // Set when the server stopped answering within the current snapshot.
    bool lost = false;
    Clock::time_point deadline;

    explicit Impl(Settings s) : settings(std::move(s)) {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) == 0)
            hostName = QByteArray(name);
    }

    ~Impl() {
        drop();
        abandonPending();
    }

    void abandonPending() {
        if (!pending)
            return;
        std::lock_guard lock(pending->mutex);
        if (pending->finished) {
            if (pending->connection)
                xcb_disconnect(pending->connection);
        } else {
            pending->abandoned = true;
        }
        pending.reset();
    }

    void drop() {
        if (connection) {
            xcb_disconnect(connection);
            connection = nullptr;
            nextAttempt = Clock::now() + std::chrono::milliseconds(settings.reconnectIntervalMs);
        }
        atomsReady = false;
        root = XCB_WINDOW_NONE;
    }

    void startAttempt() {
        ++attempts;
        nextAttempt = Clock::now() + std::chrono::milliseconds(settings.reconnectIntervalMs);
        QByteArray display = settings.display;
        if (display.isEmpty())
            display = qgetenv("DISPLAY");
        if (display.isEmpty())
            return; // no X display at all: nothing to try
        auto state = std::make_shared<PendingConnect>();
        try {
            std::thread([state, display] {
                // Writes of this thread must not raise SIGPIPE either.
                sigset_t pipe;
                sigemptyset(&pipe);
                sigaddset(&pipe, SIGPIPE);
                pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
                int screen = 0;
                xcb_connection_t *c = xcb_connect(display.constData(), &screen);
                std::lock_guard lock(state->mutex);
                if (state->abandoned) {
                    xcb_disconnect(c);
                } else {
                    state->connection = c;
                    state->screen = screen;
                }
                state->finished = true;
                state->done.notify_all();
            }).detach();
        } catch (...) {
            return; // no thread to be had: try again later
        }
        pending = std::move(state);
    }

    // Takes the result of a finished attempt, waiting for it at most `wait`.
    void collect(std::chrono::milliseconds wait) {
        if (!pending)
            return;
        xcb_connection_t *c = nullptr;
        int screen = 0;
        {
            std::unique_lock lock(pending->mutex);
            if (!pending->done.wait_for(lock, wait, [&] { return pending->finished; }))
                return;
            c = pending->connection;
            screen = pending->screen;
        }
        pending.reset();
        if (!c)
            return;
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return;
        }
        const xcb_setup_t *setup = xcb_get_setup(c);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screen && it.rem > 0; ++i)
            xcb_screen_next(&it);
        if (it.rem <= 0 || !it.data) {
            xcb_disconnect(c);
            return;
        }
        connection = c;
        root = it.data->root;
        atomsReady = false;
    }

    bool ensureConnected() {
        if (connection) {
            if (!xcb_connection_has_error(connection))
                return true;
            drop();
        }
        collect(std::chrono::milliseconds(0));
        if (!connection && !pending && Clock::now() >= nextAttempt) {
            startAttempt();
            collect(std::chrono::milliseconds(settings.connectWaitMs));
        }
        return connection != nullptr;
    }

    // The reply (or nothing, for an error) of request `sequence`, waiting no
    // longer than the snapshot's deadline. A connection that breaks or a
    // server that stays silent sets `lost`.
    void *await(unsigned int sequence) {
        if (lost)
            return nullptr;
        for (;;) {
            void *reply = nullptr;
            xcb_generic_error_t *error = nullptr;
            if (xcb_poll_for_reply(connection, sequence, &reply, &error)) {
                std::free(error);
                // A broken connection answers every request at once, with
                // nothing.
                if (!reply && xcb_connection_has_error(connection)) {
                    lost = true;
                    return nullptr;
                }
                return reply;
            }
            if (xcb_connection_has_error(connection)) {
                lost = true;
                return nullptr;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                lost = true;
                return nullptr;
            }
            pollfd p{xcb_get_file_descriptor(connection), POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r < 0 && errno != EINTR) {
                lost = true;
                return nullptr;
            }
            // Let xcb read what has arrived. No events are selected on this
            // connection; whatever comes out is dropped.
            while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
                std::free(event);
        }
    }

    PropertyReply property(xcb_get_property_cookie_t cookie) {
        return PropertyReply(await(cookie.sequence));
    }

    bool internAtoms() {
        std::array<xcb_intern_atom_cookie_t, AtomCount> cookies;
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(AtomNames[i])),
                                         AtomNames[i]);
        xcb_flush(connection);
        for (int i = 0; i < AtomCount; ++i) {
            Freed<xcb_intern_atom_reply_t> reply(await(cookies[i].sequence));
            atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        atomsReady = !lost;
        return atomsReady;
    }

    static QByteArray bytesOf(const PropertyReply &reply) {
        if (!reply || reply->format != 8)
            return {};
        const int length = xcb_get_property_value_length(reply.reply);
        if (length <= 0)
            return {};
        QByteArray bytes(static_cast<const char *>(xcb_get_property_value(reply.reply)), length);
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        return bytes;
    }

    static std::vector<uint32_t> longsOf(const PropertyReply &reply) {
        if (!reply || reply->format != 32)
            return {};
        const int length = xcb_get_property_value_length(reply.reply) / 4;
        const auto *values = static_cast<const uint32_t *>(xcb_get_property_value(reply.reply));
        return std::vector<uint32_t>(values, values + std::max(length, 0));
    }

    QString titleOf(const PropertyReply &reply) const {
        QByteArray bytes = bytesOf(reply);
        if (bytes.isEmpty())
            return {};
        const xcb_atom_t type = reply->type;
        if (type == XCB_ATOM_STRING)
            return QString::fromLatin1(bytes);
        if (type == atoms[CompoundText])
            return QString::fromLatin1(stripCompoundEscapes(bytes));
        if (reply->bytes_after > 0)
            bytes = trimSplitUtf8(bytes);
        return codepage::fromUtf8OrAnsi(bytes);
    }

    // Whether a window of this _NET_WM_WINDOW_TYPE list gets a frame. The
    // first type this list knows decides; none known means normal.
    bool typeHasBorder(const std::vector<uint32_t> &types) const {
        for (uint32_t type : types) {
            for (int a : {TypeNormal, TypeDialog, TypeUtility, TypeToolbar})
                if (type == atoms[a])
                    return true;
            for (int a : {TypeDesktop, TypeDock, TypeMenu, TypeDropdownMenu, TypePopupMenu, TypeTooltip,
                          TypeNotification, TypeCombo, TypeDnd, TypeSplash})
                if (type == atoms[a])
                    return false;
        }
        return true;
    }

    // The top-level windows, bottom first as the server keeps them.
    std::vector<xcb_window_t> stackBottomUp() {
        auto check = xcb_get_property(connection, 0, root, atoms[NetSupportingWmCheck], XCB_ATOM_WINDOW, 0, 1);
        auto stacking = xcb_get_property(connection, 0, root, atoms[NetClientListStacking], XCB_ATOM_WINDOW, 0,
                                         StackingLongs);
        auto tree = xcb_query_tree(connection, root);
        xcb_flush(connection);

        const std::vector<uint32_t> checkWindow = longsOf(property(check));
        const std::vector<uint32_t> clients = longsOf(property(stacking));
        Freed<xcb_query_tree_reply_t> treeReply(await(tree.sequence));
        if (lost)
            return {};

        if (!checkWindow.empty() && checkWindow[0] != XCB_WINDOW_NONE && !clients.empty()) {
            // A window manager is alive when its check window points to itself.
            auto own = xcb_get_property(connection, 0, checkWindow[0], atoms[NetSupportingWmCheck], XCB_ATOM_WINDOW,
                                        0, 1);
            xcb_flush(connection);
            const std::vector<uint32_t> self = longsOf(property(own));
            if (lost)
                return {};
            if (!self.empty() && self[0] == checkWindow[0])
                return std::vector<xcb_window_t>(clients.begin(), clients.end());
        }
        if (!treeReply)
            return {};
        const xcb_window_t *children = xcb_query_tree_children(treeReply.reply);
        const int count = xcb_query_tree_children_length(treeReply.reply);
        return std::vector<xcb_window_t>(children, children + std::max(count, 0));
    }

    WindowSnapshot take() {
        WindowSnapshot result;
        if (!ensureConnected())
            return result;

        SigpipeGuard guard;
        lost = false;
        deadline = Clock::now() + std::chrono::milliseconds(settings.replyTimeoutMs);
        if (!atomsReady && !internAtoms()) {
            drop();
            return result;
        }

        std::vector<xcb_window_t> stack = stackBottomUp();
        if (lost) {
            drop();
            return result;
        }

        struct Cookies {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_property_cookie_t netName, name, pid, type, motif, machine;
        };
        std::vector<Cookies> cookies(stack.size());
        const size_t n = stack.size();
        for (size_t i = 0; i < n; ++i) {
            // Topmost first.
            const xcb_window_t w = stack[n - 1 - i];
            Cookies &c = cookies[i];
            c.attributes = xcb_get_window_attributes(connection, w);
            c.netName = xcb_get_property(connection, 0, w, atoms[NetWmName], atoms[Utf8String], 0, TitleLongs);
            c.name = xcb_get_property(connection, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, TitleLongs);
            c.pid = xcb_get_property(connection, 0, w, atoms[NetWmPid], XCB_ATOM_CARDINAL, 0, 1);
            c.type = xcb_get_property(connection, 0, w, atoms[NetWmWindowType], XCB_ATOM_ATOM, 0, 32);
            c.motif = xcb_get_property(connection, 0, w, atoms[MotifWmHints], XCB_GET_PROPERTY_TYPE_ANY, 0, 5);
            c.machine = xcb_get_property(connection, 0, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                         64);
        }
        xcb_flush(connection);

        result.windows.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            const Cookies &c = cookies[i];
            WindowInfo info;
            info.handle = static_cast<qint64>(stack[n - 1 - i]);

            Freed<xcb_get_window_attributes_reply_t> attributes(await(c.attributes.sequence));
            const PropertyReply netName = property(c.netName);
            const PropertyReply name = property(c.name);
            const std::vector<uint32_t> pid = longsOf(property(c.pid));
            const std::vector<uint32_t> types = longsOf(property(c.type));
            const std::vector<uint32_t> motif = longsOf(property(c.motif));
            const QByteArray machine = bytesOf(property(c.machine));
            if (lost)
                break;

            info.title = titleOf(netName);
            if (info.title.isEmpty())
                info.title = titleOf(name);
            if (!pid.empty() && (machine.isEmpty() || hostName.isEmpty() || sameHost(machine, hostName)))
                info.processId = static_cast<qint32>(pid[0]);
            if (attributes) {
                info.visible = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                // _MOTIF_WM_HINTS: flags, functions, decorations, ...; flag
                // bit 1 says the decorations field is valid.
                const bool undecorated = motif.size() >= 3 && (motif[0] & 2u) && motif[2] == 0;
                info.border = !attributes->override_redirect &&
                              attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT && typeHasBorder(types) &&
                              !undecorated;
            }
            result.windows.push_back(std::move(info));
        }
        if (lost) {
            drop();
            return WindowSnapshot{};
        }

        result.available = true;
        result.desktop.handle = static_cast<qint64>(root);
        result.desktop.visible = true;
        result.desktop.border = false;
        return result;
    }
};

XcbWindowList::XcbWindowList() : XcbWindowList(Settings{}) {}

XcbWindowList::XcbWindowList(Settings settings) : d(std::make_unique<Impl>(std::move(settings))) {}

XcbWindowList::~XcbWindowList() = default;

WindowSnapshot XcbWindowList::snapshot() { return d->take(); }

int XcbWindowList::connectionAttempts() const { return d->attempts; }

bool XcbWindowList::isConnected() const { return d->connection != nullptr; }

} // namespace lesemund::platform
