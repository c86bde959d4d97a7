#include "support/pulseserver.h"

#include "support/serverprocess.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lesemund::testing {
namespace {

using namespace std::chrono_literals;

bool accepts(const QByteArray &socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

PulseServer::PulseServer() {
    QDir(dir_.path()).mkpath(QStringLiteral("home"));
    QDir(dir_.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(dir_.path() + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

PulseServer::~PulseServer() {
    stop();
    if (exported_)
        hadAddress_ ? qputenv("PULSE_SERVER", savedAddress_) : qunsetenv("PULSE_SERVER");
}

QByteArray PulseServer::address() const { return "unix:" + QFile::encodeName(dir_.path()) + "/native"; }

QStringList PulseServer::clientEnvironment() const {
    return {QStringLiteral("PULSE_SERVER=") + QString::fromLocal8Bit(address()),
            QStringLiteral("HOME=") + dir_.path() + QStringLiteral("/home"),
            QStringLiteral("XDG_RUNTIME_DIR=") + dir_.path() + QStringLiteral("/run")};
}

void PulseServer::exportAddress() {
    if (!exported_) {
        hadAddress_ = qEnvironmentVariableIsSet("PULSE_SERVER");
        savedAddress_ = qgetenv("PULSE_SERVER");
        exported_ = true;
    }
    qputenv("PULSE_SERVER", address());
}

bool PulseServer::start(QString *error) {
    if (running())
        return true;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty()) {
        if (error)
            *error = QStringLiteral("pulseaudio is not installed (scripts/install-deps)");
        return false;
    }
    const QByteArray folder = QFile::encodeName(dir_.path());
    const QByteArray socketPath = folder + "/native";
    const QByteArray path = QFile::encodeName(program);
    const QByteArray sink = "module-null-sink sink_name=" + sinkName();
    const QByteArray native = "module-native-protocol-unix auth-anonymous=1 socket=" + socketPath;
    const QByteArray logPath = folder + "/server.log";

    // Everything the child needs is made before fork: after it, only
    // async-signal-safe calls.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.path() + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path() + QStringLiteral("/run"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path() + QStringLiteral("/home/.config"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("DISPLAY"));
    std::vector<QByteArray> envBytes;
    for (const QString &entry : env.toStringList())
        envBytes.push_back(entry.toLocal8Bit());
    std::vector<const char *> envp;
    for (const QByteArray &entry : envBytes)
        envp.push_back(entry.constData());
    envp.push_back(nullptr);
    const char *argv[] = {path.constData(), "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                          "--use-pid-file=no", "--system=no", "--log-target=stderr",
                          "-L", sink.constData(), "-L", native.constData(), nullptr};

    const pid_t pid = spawnTestServer(argv, envp.data(), logPath.constData());
    if (pid < 0) {
        if (error)
            *error = QStringLiteral("fork failed");
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            if (error)
                *error = QStringLiteral("pulseaudio ended at once; see ") + QString::fromLocal8Bit(logPath);
            return false;
        }
        if (accepts(socketPath)) {
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    reapTestServer(pid, 5s);
    if (error)
        *error = QStringLiteral("pulseaudio did not come up");
    return false;
}

void PulseServer::reap(int signal) {
    if (pid_ <= 0)
        return;
    ::kill(pid_, signal);
    if (!reapTestServer(pid_, 5s)) {
        ::kill(pid_, SIGKILL);
        reapTestServer(pid_, 5s);
    }
    pid_ = -1;
}

void PulseServer::stop() { reap(SIGTERM); }

void PulseServer::kill() {
    reap(SIGKILL);
    // A killed server leaves its socket behind; the next one replaces it.
}

// ---------------------------------------------------------------------------

MonitorRecorder::~MonitorRecorder() { stop(); }

void MonitorRecorder::contextChanged(pa_context *, void *self) {
    pa_threaded_mainloop_signal(static_cast<MonitorRecorder *>(self)->loop_, 0);
}

void MonitorRecorder::streamChanged(pa_stream *stream, void *self) {
    auto *recorder = static_cast<MonitorRecorder *>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        std::lock_guard lock(recorder->m_);
        recorder->failed_ = true;
    }
    pa_threaded_mainloop_signal(recorder->loop_, 0);
}

void MonitorRecorder::streamRead(pa_stream *stream, std::size_t, void *self) {
    auto *recorder = static_cast<MonitorRecorder *>(self);
    for (;;) {
        const void *data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     Clock::now().time_since_epoch()).count();
        const std::size_t frames = bytes / 4;
        {
            std::lock_guard lock(recorder->m_);
            recorder->placeLocked(recorder->levels_.size(), frames, now);
            if (data) {
                const int16_t *samples = static_cast<const int16_t *>(data);
                for (std::size_t i = 0; i < frames; ++i) {
                    const int a = std::abs(static_cast<int>(samples[2 * i]));
                    const int b = std::abs(static_cast<int>(samples[2 * i + 1]));
                    recorder->levels_.push_back(static_cast<int16_t>(std::min(32767, std::max(a, b))));
                }
            } else {
                recorder->levels_.insert(recorder->levels_.end(), frames, 0); // a hole
            }
        }
        pa_stream_drop(stream);
    }
}

void MonitorRecorder::placeLocked(std::size_t first, std::size_t frames, std::int64_t arrival) {
    // The last frame of a fragment was rendered before the fragment
    // arrived, and the server renders at a steady pace: the earliest
    // arrival, less the frames before it at the sample rate, over the last
    // two seconds (the server's clock may drift a little against ours)
    // gives the moment frame 0 was rendered.
    const std::int64_t start = arrival - static_cast<std::int64_t>(first + frames) * 1000000000LL / rate_;
    recent_.push_back({first, start});
    while (recent_.size() > 1 && arrival - (recent_.front().nanos + static_cast<std::int64_t>(recent_.front().first) * 1000000000LL / rate_) > 2000000000LL)
        recent_.pop_front();
    std::int64_t earliest = start;
    for (const Anchor &a : recent_)
        earliest = std::min(earliest, a.nanos);
    // The sink renders ahead of playing by up to its latency; a frame is
    // played that much after the earliest it could be rendered.
    anchors_.push_back({first, earliest + sinkLatencyNanos_ + static_cast<std::int64_t>(first) * 1000000000LL / rate_});
}

void MonitorRecorder::serverChanged(pa_context *, pa_subscription_event_type event, std::uint32_t, void *self) {
    auto *recorder = static_cast<MonitorRecorder *>(self);
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT
        && (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW) {
        std::lock_guard lock(recorder->m_);
        ++recorder->streamsMade_;
    }
}

int MonitorRecorder::streamsMade() const {
    std::lock_guard lock(m_);
    return streamsMade_;
}

void MonitorRecorder::askSinkLatency(pa_mainloop_api *, pa_time_event *event, const struct timeval *, void *self) {
    auto *recorder = static_cast<MonitorRecorder *>(self);
    pa_operation *op = pa_context_get_sink_info_by_name(
        recorder->context_, recorder->sinkName_.constData(),
        [](pa_context *, const pa_sink_info *info, int eol, void *self) {
            auto *r = static_cast<MonitorRecorder *>(self);
            if (eol == 0 && info) {
                std::lock_guard lock(r->m_);
                r->sinkLatencyNanos_ = static_cast<std::int64_t>(info->configured_latency) * 1000;
            }
        },
        recorder);
    if (op)
        pa_operation_unref(op);
    // Asked again every quarter second: the latency follows the streams.
    const pa_usec_t next = pa_rtclock_now() + 250 * PA_USEC_PER_MSEC;
    if (event)
        pa_context_rttime_restart(recorder->context_, event, next);
    else
        pa_context_rttime_new(recorder->context_, next, &MonitorRecorder::askSinkLatency, recorder);
}

bool MonitorRecorder::start(const QByteArray &address, const QByteArray &monitor, QString *error) {
    stop();
    {
        std::lock_guard lock(m_);
        levels_.clear();
        anchors_.clear();
        recent_.clear();
        streamsMade_ = 0;
        failed_ = false;
    }
    const auto fail = [&](const char *what) {
        if (error)
            *error = QString::fromLatin1(what);
        stop();
        return false;
    };
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "lesemund monitor recorder");
    pa_context_set_state_callback(context_, &MonitorRecorder::contextChanged, this);
    if (pa_context_connect(context_, address.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail("cannot connect to the server");
    pa_threaded_mainloop_start(loop_);
    pa_threaded_mainloop_lock(loop_);
    bool ok = true;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            ok = false;
            break;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    if (ok) {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate_), 2};
        stream_ = pa_stream_new(context_, "monitor", &spec, nullptr);
        pa_stream_set_state_callback(stream_, &MonitorRecorder::streamChanged, this);
        pa_stream_set_read_callback(stream_, &MonitorRecorder::streamRead, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(rate_ / 1000 * 4 * 4); // 4 ms
        ok = pa_stream_connect_record(stream_, monitor.constData(), &attr, PA_STREAM_ADJUST_LATENCY) == 0;
        while (ok) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state))
                ok = false;
            else
                pa_threaded_mainloop_wait(loop_);
        }
    }
    if (ok) {
        // The null sink takes up a new latency only when it wakes, which it
        // may do two seconds later; suspending and resuming it wakes it now.
        QByteArray sink = monitor;
        sink.chop(static_cast<int>(std::strlen(".monitor")));
        for (int suspend : {1, 0}) {
            pa_operation *op = pa_context_suspend_sink_by_name(
                context_, sink.constData(), suspend,
                [](pa_context *, int, void *self) {
                    pa_threaded_mainloop_signal(static_cast<MonitorRecorder *>(self)->loop_, 0);
                },
                this);
            while (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING)
                pa_threaded_mainloop_wait(loop_);
            if (op)
                pa_operation_unref(op);
        }
        sinkName_ = sink;
        askSinkLatency(nullptr, nullptr, nullptr, this);
        pa_context_set_subscribe_callback(context_, &MonitorRecorder::serverChanged, this);
        if (pa_operation *op = pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
            pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(loop_);
    if (!ok)
        return fail("cannot record the monitor");
    // Ready when the first frames are there.
    const auto end = Clock::now() + 5s;
    while (Clock::now() < end) {
        {
            std::lock_guard lock(m_);
            if (!levels_.empty())
                return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return fail("the monitor delivers nothing");
}

void MonitorRecorder::stop() {
    if (!loop_)
        return;
    pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

bool MonitorRecorder::recording() const {
    std::lock_guard lock(m_);
    return loop_ && !failed_;
}

MonitorRecorder::Clock::time_point MonitorRecorder::timeOfLocked(std::size_t frame) const {
    // The anchor of the fragment holding the frame, or the last before it.
    auto it = std::upper_bound(anchors_.begin(), anchors_.end(), frame,
                               [](std::size_t f, const Anchor &a) { return f < a.first; });
    const Anchor &anchor = it == anchors_.begin() ? anchors_.front() : *(it - 1);
    const std::int64_t frames = static_cast<std::int64_t>(frame) - static_cast<std::int64_t>(anchor.first);
    const std::int64_t nanos = anchor.nanos + frames * 1000000000LL / rate_;
    return Clock::time_point(std::chrono::nanoseconds(nanos));
}

std::pair<std::size_t, std::size_t> MonitorRecorder::rangeLocked(Clock::time_point from, Clock::time_point to) const {
    if (anchors_.empty() || levels_.empty())
        return {0, 0};
    // Times grow with the frame index; a binary search over the frames.
    const auto lower = [this](Clock::time_point t) {
        std::size_t lo = 0, hi = levels_.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (timeOfLocked(mid) < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    const std::size_t a = lower(from);
    return {a, std::max(a, lower(to))};
}

std::optional<MonitorRecorder::Clock::time_point> MonitorRecorder::firstAudible(Clock::time_point from,
                                                                                 int threshold) const {
    std::lock_guard lock(m_);
    const auto [a, b] = rangeLocked(from, Clock::time_point::max());
    for (std::size_t i = a; i < b; ++i)
        if (levels_[i] > threshold)
            return timeOfLocked(i);
    return std::nullopt;
}

std::optional<MonitorRecorder::Clock::time_point>
MonitorRecorder::waitAudible(Clock::time_point from, std::chrono::milliseconds timeout, int threshold) const {
    const auto end = Clock::now() + timeout;
    for (;;) {
        if (auto t = firstAudible(from, threshold))
            return t;
        if (Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(2ms);
    }
}

std::optional<MonitorRecorder::Clock::time_point>
MonitorRecorder::lastAudible(Clock::time_point from, Clock::time_point to, int threshold) const {
    std::lock_guard lock(m_);
    const auto [a, b] = rangeLocked(from, to);
    for (std::size_t i = b; i > a; --i)
        if (levels_[i - 1] > threshold)
            return timeOfLocked(i - 1);
    return std::nullopt;
}

std::chrono::milliseconds MonitorRecorder::audibleTime(Clock::time_point from, Clock::time_point to,
                                                       int threshold) const {
    std::lock_guard lock(m_);
    const auto [a, b] = rangeLocked(from, to);
    const std::size_t window = static_cast<std::size_t>(rate_) / 100;
    long windows = 0;
    for (std::size_t i = a; i < b; i += window) {
        const std::size_t e = std::min(b, i + window);
        if (std::any_of(levels_.begin() + static_cast<std::ptrdiff_t>(i), levels_.begin() + static_cast<std::ptrdiff_t>(e),
                        [threshold](int16_t v) { return v > threshold; }))
            ++windows;
    }
    return std::chrono::milliseconds(windows * 10);
}

std::chrono::milliseconds MonitorRecorder::audibleTime(const std::vector<int16_t> &pcm, int rate, int threshold) {
    const std::size_t window = static_cast<std::size_t>(rate) / 100;
    long windows = 0;
    for (std::size_t i = 0; i < pcm.size(); i += window) {
        const std::size_t e = std::min(pcm.size(), i + window);
        if (std::any_of(pcm.begin() + static_cast<std::ptrdiff_t>(i), pcm.begin() + static_cast<std::ptrdiff_t>(e),
                        [threshold](int16_t v) { return v > threshold || v < -threshold; }))
            ++windows;
    }
    return std::chrono::milliseconds(windows * 10);
}

std::vector<int> MonitorRecorder::envelope(Clock::time_point from, int count) const {
    std::lock_guard lock(m_);
    std::vector<int> result;
    const std::size_t step = static_cast<std::size_t>(rate_) / 1000;
    std::size_t i = rangeLocked(from, Clock::time_point::max()).first;
    for (int n = 0; n < count && i + step <= levels_.size(); ++n, i += step)
        result.push_back(*std::max_element(levels_.begin() + static_cast<std::ptrdiff_t>(i),
                                           levels_.begin() + static_cast<std::ptrdiff_t>(i + step)));
    return result;
}

bool MonitorRecorder::waitRecorded(Clock::time_point until, std::chrono::milliseconds timeout) const {
    const auto end = Clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(m_);
            if (!levels_.empty() && !anchors_.empty() && timeOfLocked(levels_.size() - 1) >= until)
                return true;
            if (failed_)
                return false;
        }
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

} // namespace lesemund::testing
