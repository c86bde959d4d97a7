#pragma once
// A private PulseAudio sound server for tests and benchmarks, and a
// recorder of what it plays.
//
// PulseServer runs `pulseaudio` with a null sink and a native socket in a
// temporary folder of its own (its own HOME and XDG_RUNTIME_DIR, no D-Bus,
// no autospawn); it also runs as root. It ends with the object or when the
// test program dies.
//
// MonitorRecorder records the null sink's monitor: the level of every frame
// the server played and, for each, the moment it was played (steady clock):
// the earliest moment the server could have rendered it, plus the latency
// the sink renders ahead. A test asks when the speech became audible or
// went silent.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <pulse/def.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_mainloop_api;
struct pa_time_event;

namespace lesemund::testing {

class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    // Starts the server (again, on the same socket after stop() or kill())
    // and waits until it accepts connections. False, with `error` filled,
    // when it could not be started.
    bool start(QString *error = nullptr);
    // Ends the server politely and waits for it.
    void stop();
    // Ends the server at once, as a crash would.
    void kill();
    bool running() const { return pid_ > 0; }

    // For PULSE_SERVER: "unix:<folder>/native".
    QByteArray address() const;
    QByteArray sinkName() const { return "lesemund_test"; }
    QByteArray monitorName() const { return sinkName() + ".monitor"; }
    // The environment a client of this server gets (PULSE_SERVER, HOME,
    // XDG_RUNTIME_DIR), for child processes.
    QStringList clientEnvironment() const;
    QString folder() const { return dir_.path(); }

    // Points PULSE_SERVER of this process at the server while it exists.
    void exportAddress();

private:
    void reap(int signal);

    QTemporaryDir dir_;
    pid_t pid_ = -1;
    bool exported_ = false;
    bool hadAddress_ = false;
    QByteArray savedAddress_;
};

class MonitorRecorder {
public:
    using Clock = std::chrono::steady_clock;
    // About -50 dBFS.
    static constexpr int kAudible = 104;

    MonitorRecorder() = default;
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder &) = delete;
    MonitorRecorder &operator=(const MonitorRecorder &) = delete;

    // Records the monitor `monitor` of server `address` until stop(); waits
    // until the first samples arrived.
    bool start(const QByteArray &address, const QByteArray &monitor, QString *error = nullptr);
    void stop();
    bool recording() const;

    // When the first frame louder than `threshold` at or after `from` was
    // played; nothing when none is recorded (yet).
    std::optional<Clock::time_point> firstAudible(Clock::time_point from, int threshold = kAudible) const;
    // The same, waiting up to `timeout` for it.
    std::optional<Clock::time_point> waitAudible(Clock::time_point from, std::chrono::milliseconds timeout,
                                                 int threshold = kAudible) const;
    // When the last frame louder than `threshold` before `to` was played.
    std::optional<Clock::time_point> lastAudible(Clock::time_point from, Clock::time_point to,
                                                 int threshold = kAudible) const;
    // How much of [from, to) was audible, in whole 10 ms windows with a
    // frame louder than `threshold` (the same measure as audibleTime()).
    std::chrono::milliseconds audibleTime(Clock::time_point from, Clock::time_point to,
                                          int threshold = kAudible) const;
    // The same measure for PCM at `rate`.
    static std::chrono::milliseconds audibleTime(const std::vector<int16_t> &pcm, int rate,
                                                 int threshold = kAudible);
    // The loudest frame of each millisecond from `from` on, `count` of them
    // at most (fewer when not recorded yet).
    std::vector<int> envelope(Clock::time_point from, int count) const;
    // How many playback streams were made on the server since start().
    int streamsMade() const;
    // Waits until frames played up to `until` are recorded.
    bool waitRecorded(Clock::time_point until, std::chrono::milliseconds timeout) const;

private:
    static void streamRead(pa_stream *stream, std::size_t bytes, void *self);
    static void contextChanged(pa_context *context, void *self);
    static void streamChanged(pa_stream *stream, void *self);
    static void serverChanged(pa_context *, pa_subscription_event_type event, std::uint32_t index, void *self);
    static void askSinkLatency(pa_mainloop_api *, pa_time_event *event, const struct timeval *, void *self);
    // Index range of frames played in [from, to).
    std::pair<std::size_t, std::size_t> rangeLocked(Clock::time_point from, Clock::time_point to) const;
    Clock::time_point timeOfLocked(std::size_t frame) const;
    void placeLocked(std::size_t first, std::size_t frames, std::int64_t arrival);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    int rate_ = 48000;

    mutable std::mutex m_;
    std::vector<int16_t> levels_;     // the loudest channel of each frame
    // When frame `first` of a fragment was played, in steady-clock
    // nanoseconds; frames after it follow at the sample rate.
    struct Anchor {
        std::size_t first;
        std::int64_t nanos;
    };
    std::vector<Anchor> anchors_;
    std::deque<Anchor> recent_;       // the last two seconds' fragments, by their frame 0

    bool failed_ = false;
    QByteArray sinkName_;
    std::int64_t sinkLatencyNanos_ = 0;
    int streamsMade_ = 0;
};

} // namespace lesemund::testing
