#include "speech/pulsesink.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>

namespace lesemund::speech {

namespace {

std::uint32_t bytesFor(int sampleRate, int milliseconds) {
    return static_cast<std::uint32_t>(sampleRate / 1000.0 * milliseconds) * 2u;
}

// Half a second of the utterance is kept for replay; the server never holds
// that much.
constexpr int kRecentMilliseconds = 500;

} // namespace

PulseSink::~PulseSink() { close(); }

bool PulseSink::open(int sampleRate) {
    close();
    sampleRate_ = sampleRate;
    pa_sample_spec format;
    format.format = PA_SAMPLE_S16LE;
    format.rate = static_cast<std::uint32_t>(sampleRate);
    format.channels = 1;
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(sampleRate, 80);
    attr.prebuf = bytesFor(sampleRate, 10);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    stream_ = pa_simple_new(nullptr, "Tastvolk Lesemund", PA_STREAM_PLAYBACK, nullptr,
                            "Sprachausgabe", &format, nullptr, &attr, &error);
    return stream_ != nullptr;
}

void PulseSink::close() {
    if (stream_) {
        pa_simple_free(stream_);
        stream_ = nullptr;
    }
    recent_.clear();
}

void PulseSink::beginUtterance() { recent_.clear(); }

bool PulseSink::write(const int16_t *samples, std::size_t count) {
    if (!stream_)
        return false;
    int error = 0;
    if (pa_simple_write(stream_, samples, count * sizeof(int16_t), &error) < 0)
        return false;
    const std::size_t keep = static_cast<std::size_t>(sampleRate_) * kRecentMilliseconds / 1000;
    recent_.insert(recent_.end(), samples, samples + count);
    if (recent_.size() > keep)
        recent_.erase(recent_.begin(), recent_.end() - static_cast<std::ptrdiff_t>(keep));
    return true;
}

void PulseSink::endUtterance(bool cutOff) {
    recent_.clear();
    if (cutOff && stream_) {
        int error = 0;
        pa_simple_flush(stream_, &error);
    }
}

void PulseSink::silence() {
    recent_.clear();
    if (stream_) {
        int error = 0;
        pa_simple_flush(stream_, &error);
    }
}

std::vector<int16_t> PulseSink::hold() {
    if (!stream_)
        return {};
    int error = 0;
    const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
    pa_simple_flush(stream_, &error);
    if (latency == static_cast<pa_usec_t>(-1))
        return {};
    std::size_t unheard = static_cast<std::size_t>(latency * static_cast<pa_usec_t>(sampleRate_) / 1000000u);
    unheard = std::min(unheard, recent_.size());
    std::vector<int16_t> replay(recent_.end() - static_cast<std::ptrdiff_t>(unheard), recent_.end());
    recent_.erase(recent_.end() - static_cast<std::ptrdiff_t>(unheard), recent_.end());
    return replay;
}

} // namespace lesemund::speech
