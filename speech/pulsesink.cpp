#include "speech/pulsesink.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstring>

namespace lesemund::speech {

namespace {

// The server's buffer for the stream: the whole latency it aims at, the
// smallest piece it asks for, and how much must be there before playing
// starts (an utterance shorter than that is started by its end).
constexpr int kTargetMilliseconds = 40;
constexpr int kRequestMilliseconds = 5;
constexpr int kPrebufferMilliseconds = 10;
// The sink's own queue in front of the server's buffer. It keeps the sound
// going while the player waits for the processor, and is flushed with it.
constexpr int kQueueMilliseconds = 200;
// How long open() waits for the server to answer.
constexpr pa_usec_t kConnectTimeout = 1500 * PA_USEC_PER_MSEC;

std::uint32_t bytesFor(int sampleRate, int milliseconds) {
    return static_cast<std::uint32_t>(static_cast<long long>(sampleRate) * milliseconds / 1000) * 2u;
}

void forget(pa_operation *operation) {
    if (operation)
        pa_operation_unref(operation);
}

} // namespace

PulseSink::~PulseSink() { close(); }

void PulseSink::stateChanged(bool brokeDown) {
    if (brokeDown) {
        failed_ = true;
        ready_ = false;
        wake();
    }
    pa_threaded_mainloop_signal(loop_, 0);
}

void PulseSink::contextChanged(pa_context *context, void *self) {
    const pa_context_state_t state = pa_context_get_state(context);
    static_cast<PulseSink *>(self)->stateChanged(state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED);
}

void PulseSink::streamChanged(pa_stream *stream, void *self) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    static_cast<PulseSink *>(self)->stateChanged(state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED);
}

void PulseSink::writeRequested(pa_stream *, std::size_t, void *self) {
    auto *sink = static_cast<PulseSink *>(self);
    const std::size_t before = sink->queue_.size() - sink->queueHead_;
    sink->pump();
    if (sink->queue_.size() - sink->queueHead_ < before || before == 0)
        sink->wake();
}

void PulseSink::underflowed(pa_stream *stream, void *self) {
    auto *sink = static_cast<PulseSink *>(self);
    // The end of every utterance, and every flush, runs the buffer dry
    // (the server may tell after the next utterance began); only a gap
    // after the first samples of the current utterance is a dropout.
    const std::int64_t at = pa_stream_get_underflow_index(stream);
    if (sink->inUtterance_ && at > sink->utteranceStart_)
        ++sink->underruns_;
}

void PulseSink::timedOut(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self) {
    auto *sink = static_cast<PulseSink *>(self);
    sink->waitTimedOut_ = true;
    pa_threaded_mainloop_signal(sink->loop_, 0);
}

void PulseSink::wake() {
    if (wake_)
        wake_();
}

bool PulseSink::open(int sampleRate) {
    close();
    failed_ = false;
    waitTimedOut_ = false;
    corked_ = true;
    inUtterance_ = false;
    capacity_ = static_cast<std::size_t>(bytesFor(sampleRate, kQueueMilliseconds) / 2);
    written_ = 0;
    utteranceStart_ = 0;
    queue_.clear();
    queueHead_ = 0;

    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tastvolk Lesemund");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "a11y");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Tastvolk Lesemund", props);
    if (!context_) {
        pa_proplist_free(props);
        close();
        return false;
    }
    pa_context_set_state_callback(context_, &PulseSink::contextChanged, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0
        || pa_threaded_mainloop_start(loop_) < 0) {
        pa_proplist_free(props);
        close();
        return false;
    }

    pa_threaded_mainloop_lock(loop_);
    pa_time_event *timer = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeout,
                                                 &PulseSink::timedOut, this);
    const auto contextUp = [this] {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY)
                return true;
            if (!PA_CONTEXT_IS_GOOD(state) || waitTimedOut_)
                return false;
            pa_threaded_mainloop_wait(loop_);
        }
    };
    bool ok = contextUp();
    if (ok) {
        pa_sample_spec format;
        format.format = PA_SAMPLE_S16LE;
        format.rate = static_cast<std::uint32_t>(sampleRate);
        format.channels = 1;
        stream_ = pa_stream_new_with_proplist(context_, "Sprachausgabe", &format, nullptr, props);
        ok = stream_ != nullptr;
    }
    if (ok) {
        pa_stream_set_state_callback(stream_, &PulseSink::streamChanged, this);
        pa_stream_set_write_callback(stream_, &PulseSink::writeRequested, this);
        pa_stream_set_underflow_callback(stream_, &PulseSink::underflowed, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = bytesFor(sampleRate, kTargetMilliseconds);
        attr.prebuf = bytesFor(sampleRate, kPrebufferMilliseconds);
        attr.minreq = bytesFor(sampleRate, kRequestMilliseconds);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        ok = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0;
    }
    while (ok) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state) || waitTimedOut_ || failed_)
            ok = false;
        else
            pa_threaded_mainloop_wait(loop_);
    }
    if (timer)
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    ok = ok && !failed_;
    ready_ = ok;
    pa_threaded_mainloop_unlock(loop_);
    pa_proplist_free(props);
    if (!ok)
        close();
    return ok;
}

bool PulseSink::isOpen() const { return ready_; }

void PulseSink::close() {
    ready_ = false;
    if (!loop_)
        return;
    pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    queue_.clear();
    queueHead_ = 0;
}

void PulseSink::pump() {
    if (!stream_ || failed_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    std::size_t queued = queue_.size() - queueHead_;
    while (queued > 0) {
        const std::size_t writable = pa_stream_writable_size(stream_);
        const std::size_t count = std::min(queued, writable / 2);
        if (count == 0 || writable == static_cast<std::size_t>(-1))
            break;
        if (pa_stream_write(stream_, queue_.data() + queueHead_, count * 2, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            failed_ = true;
            ready_ = false;
            break;
        }
        queueHead_ += count;
        queued -= count;
        written_ += static_cast<std::int64_t>(count) * 2;
    }
    if (queued == 0) {
        queue_.clear();
        queueHead_ = 0;
        if (triggerPending_) { // the end of an utterance shorter than the prebuffer
            triggerPending_ = false;
            forget(pa_stream_trigger(stream_, nullptr, nullptr));
        }
    } else if (queueHead_ > capacity_) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueHead_));
        queueHead_ = 0;
    }
}

void PulseSink::flushLocked() {
    triggerPending_ = false;
    queue_.clear();
    queueHead_ = 0;
    if (stream_ && !failed_)
        forget(pa_stream_flush(stream_, nullptr, nullptr));
}

void PulseSink::corkLocked(bool cork) {
    if (corked_ == cork || !stream_ || failed_)
        return;
    corked_ = cork;
    forget(pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr));
}

void PulseSink::beginUtterance() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    inUtterance_ = true;
    triggerPending_ = false;
    utteranceStart_ = written_ + static_cast<std::int64_t>(queue_.size() - queueHead_) * 2;
    corkLocked(false);
    pa_threaded_mainloop_unlock(loop_);
}

bool PulseSink::write(const int16_t *samples, std::size_t count) {
    if (!loop_)
        return false;
    pa_threaded_mainloop_lock(loop_);
    bool ok = !failed_;
    if (ok) {
        queue_.insert(queue_.end(), samples, samples + count);
        pump();
        ok = !failed_;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
}

std::size_t PulseSink::room() const {
    if (!loop_)
        return 0;
    pa_threaded_mainloop_lock(loop_);
    const std::size_t queued = queue_.size() - queueHead_;
    pa_threaded_mainloop_unlock(loop_);
    return queued >= capacity_ ? 0 : capacity_ - queued;
}

void PulseSink::endUtterance(bool cutOff) {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    inUtterance_ = false;
    if (cutOff) {
        flushLocked();
    } else {
        triggerPending_ = true;
        pump();
    }
    pa_threaded_mainloop_unlock(loop_);
}

void PulseSink::silence() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    flushLocked();
    pa_threaded_mainloop_unlock(loop_);
}

std::vector<int16_t> PulseSink::hold() {
    if (loop_) {
        pa_threaded_mainloop_lock(loop_);
        corkLocked(true); // the server keeps what is not heard yet
        pa_threaded_mainloop_unlock(loop_);
    }
    return {};
}

void PulseSink::proceed() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    corkLocked(false);
    pa_threaded_mainloop_unlock(loop_);
}

void PulseSink::idle() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    // Long after the last sound: nothing is left to hear, and a corked
    // stream lets the server suspend the sound card.
    flushLocked();
    corkLocked(true);
    pa_threaded_mainloop_unlock(loop_);
}

} // namespace lesemund::speech
