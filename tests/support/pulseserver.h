#pragma once
// A private PulseAudio for tests and benchmarks: a mono null sink and a
// native socket in a folder of its own. MonitorRecorder records the sink's
// monitor with parec: the level of every frame and when it was played.
#include "support/serverprocess.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lesemund::testing {

class PulseServer {
public:
    ~PulseServer() { stop(); }
    // Starts the server (again, on the same socket) and waits until it is up.
    bool start(QString *error = nullptr) {
        const QByteArray folder = QFile::encodeName(dir_.path()), logPath = folder + "/server.log";
        const QByteArray native = "module-native-protocol-unix auth-anonymous=1 socket=" + folder + "/native";
        const QByteArray home = "HOME=" + folder, runtime = "XDG_RUNTIME_DIR=" + folder;
        const char *argv[] = {"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                              "--use-pid-file=no", "--log-level=info", "--log-target=stderr", "-L",
                              "module-null-sink sink_name=lesemund_test rate=48000 channels=1", "-L", native, nullptr};
        const char *envp[] = {home, runtime, nullptr};
        const qsizetype startups = log().count("Daemon startup complete");
        const auto up = [&] { return log().count("Daemon startup complete") > startups; };
        if (pid_ > 0 || ((pid_ = spawnTestServer(argv, envp, logPath)) > 0 && waitFor(up, std::chrono::seconds(10))))
            return true;
        kill();
        if (error)
            *error = "pulseaudio did not start; see " + logPath;
        return false;
    }
    void stop() { end(SIGTERM); }
    void kill() { end(SIGKILL); } // as a crash would
    QByteArray address() const { return "unix:" + QFile::encodeName(dir_.path()) + "/native"; }
    QByteArray monitorName() const { return "lesemund_test.monitor"; }
    QStringList clientEnvironment() const {
        return {"PULSE_SERVER=" + address(), "HOME=" + dir_.path(), "XDG_RUNTIME_DIR=" + dir_.path()};
    }
    void exportAddress() { qputenv("PULSE_SERVER", address()); } // for this process
    QByteArray log() const { // at level info
        QFile file(dir_.filePath("server.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    void end(int signal) {
        if (pid_ > 0 && ::kill(pid_, signal) == 0)
            reapTestServer(pid_, std::chrono::seconds(5));
        pid_ = -1;
    }

    QTemporaryDir dir_;
    pid_t pid_ = -1;
};

class MonitorRecorder {
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr int kAudible = 104; // about -50 dBFS

    ~MonitorRecorder() { stop(); }
    // Records `monitor` of the server at `address` until stop(); true once the first frames came (the null sink
    // takes up the small latency asked for only when it wakes, up to two seconds later).
    bool start(const QByteArray &address, const QByteArray &monitor, QString *error = nullptr) {
        stop();
        levels_.clear();
        zero_ = INT64_MAX;
        const QByteArray server = "--server=" + address, device = "--device=" + monitor;
        const char *argv[] = {"/usr/bin/parec", server, device, "--raw", "--format=s16le", "--rate=48000",
                              "--channels=1", "--latency-msec=4", nullptr};
        int out[2];
        if (::pipe2(out, O_CLOEXEC) == 0) {
            pid_ = spawnTestServer(argv, nullptr, nullptr, out[1]);
            ::close(out[1]);
            reader_ = std::thread([this, fd = out[0]] {
                int16_t samples[2048];
                for (ssize_t n; (n = ::read(fd, samples, sizeof samples)) > 0;) {
                    const std::int64_t now = Time::clock::now().time_since_epoch().count();
                    std::lock_guard lock(m_);
                    // The sink renders 4 ms at a time, as long before a sound card would play them; they
                    // come as soon as they are rendered, or later.
                    zero_ = std::min(zero_, now + 4000000 - std::int64_t(levels_.size()) * 1000000000 / kRate);
                    for (ssize_t i = 0; i < n / 2; ++i)
                        levels_.push_back(int16_t(std::min(32767, std::abs(int(samples[i])))));
                }
                ::close(fd);
            });
        }
        if (waitRecorded(Time(), std::chrono::seconds(5)))
            return true;
        stop();
        if (error)
            *error = "parec recorded nothing";
        return false;
    }
    void stop() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0)
            reapTestServer(pid_, std::chrono::seconds(5));
        pid_ = -1;
        if (reader_.joinable())
            reader_.join();
    }

    // When the first frame louder than `threshold` at or after `from` was played; the last before `to`.
    std::optional<Time> firstAudible(Time from, int threshold = kAudible) const {
        std::lock_guard lock(m_);
        for (std::size_t i = frameAt(from); i < levels_.size(); ++i)
            if (levels_[i] > threshold)
                return timeOf(i);
        return std::nullopt;
    }
    std::optional<Time> lastAudible(Time from, Time to, int threshold = kAudible) const {
        std::lock_guard lock(m_);
        for (std::size_t i = frameAt(to); i > frameAt(from); --i)
            if (levels_[i - 1] > threshold)
                return timeOf(i - 1);
        return std::nullopt;
    }
    std::optional<Time> waitAudible(Time from, std::chrono::milliseconds timeout, int threshold = kAudible) const {
        std::optional<Time> heard;
        waitFor([&] { return (heard = firstAudible(from, threshold)).has_value(); }, timeout);
        return heard;
    }
    // Waits until nothing has been audible for `quiet`; false when that did not come within `timeout`.
    bool waitSilent(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        for (const Time end = Time::clock::now() + timeout; Time::clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            const Time from = Time::clock::now() - quiet;
            waitRecorded(Time::clock::now(), std::chrono::seconds(1));
            if (!firstAudible(from))
                return true;
        }
        return false;
    }
    // How much of [from, to) was audible, in whole 10 ms windows; the same for PCM at `rate`.
    std::chrono::milliseconds audibleTime(Time from, Time to, int threshold = kAudible) const {
        std::lock_guard lock(m_);
        const auto first = levels_.begin() + std::ptrdiff_t(frameAt(from));
        return audibleTime({first, std::max(first, levels_.begin() + std::ptrdiff_t(frameAt(to)))}, kRate, threshold);
    }
    static std::chrono::milliseconds audibleTime(const std::vector<int16_t> &pcm, int rate, int threshold = kAudible) {
        long windows = 0;
        for (std::size_t i = 0; i < pcm.size(); i += std::size_t(rate) / 100)
            windows += std::any_of(pcm.begin() + i, pcm.begin() + std::min(pcm.size(), i + rate / 100),
                                   [threshold](int16_t v) { return std::abs(v) > threshold; });
        return std::chrono::milliseconds(windows * 10);
    }
    // The level of every frame played in [from, to).
    std::vector<int16_t> levels(Time from, Time to) const {
        std::lock_guard lock(m_);
        return {levels_.begin() + std::ptrdiff_t(frameAt(from)), levels_.begin() + std::ptrdiff_t(std::max(frameAt(from), frameAt(to)))};
    }
    // The loudest frame of each millisecond from `from` on, `count` at most.
    std::vector<int> envelope(Time from, int count) const {
        std::lock_guard lock(m_);
        std::vector<int> loudest;
        for (auto i = levels_.begin() + std::ptrdiff_t(frameAt(from));
             int(loudest.size()) < count && levels_.end() - i >= kRate / 1000; i += kRate / 1000)
            loudest.push_back(*std::max_element(i, i + kRate / 1000));
        return loudest;
    }
    // Waits until the frames played up to `until` are recorded.
    bool waitRecorded(Time until, std::chrono::milliseconds timeout) const {
        return waitFor([&] {
            std::lock_guard lock(m_);
            return !levels_.empty() && timeOf(levels_.size() - 1) >= until;
        }, timeout);
    }

private:
    static constexpr int kRate = 48000;
    // The first frame played at or after `t`, and when frame `i` was played (m_ held).
    std::size_t frameAt(Time t) const {
        return std::size_t(std::clamp(std::ceil((double(t.time_since_epoch().count()) - double(zero_)) * kRate / 1e9),
                                      0.0, double(levels_.size())));
    }
    Time timeOf(std::size_t i) const { return Time(std::chrono::nanoseconds(zero_ + i * 1000000000 / kRate)); }

    pid_t pid_ = -1; // parec
    std::thread reader_;
    mutable std::mutex m_;
    std::vector<int16_t> levels_;   // |sample| of each frame
    std::int64_t zero_ = INT64_MAX; // when frame 0 was played, in steady nanoseconds
};

} // namespace lesemund::testing
