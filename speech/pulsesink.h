#pragma once
// The desktop's sound server through the asynchronous PulseAudio API
// (PipeWire's pulse server serves it as well). The server keeps a short
// buffer of speech ahead of the loudspeaker; what does not fit waits in a
// small queue of the sink and goes to the server from libpulse's own thread
// whenever the server asks for more, so a busy player thread does not make
// the sound stop. Cutting off flushes the server's buffer (the server then
// takes back what the sound card has not played yet), a pause corks the
// stream, so both are heard at once and nothing stale is played later.
//
// A connection that breaks down (the server ended, crashed or restarts) is
// noticed at once: isOpen() turns false and the player opens a new one.
#include "speech/audiosink.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_mainloop_api;
struct pa_time_event;

namespace lesemund::speech {

class PulseSink : public AudioSink {
public:
    PulseSink() = default;
    ~PulseSink() override;

    // Connects to the server named by the environment (PULSE_SERVER) or the
    // session's, waiting at most a second and a half for it. Never starts one.
    bool open(int sampleRate) override;
    bool isOpen() const override;
    void close() override;
    void beginUtterance() override;
    bool write(const int16_t *samples, std::size_t count) override;
    std::size_t room() const override;
    void endUtterance(bool cutOff) override;
    void silence() override;
    std::vector<int16_t> hold() override;
    void proceed() override;
    void idle() override;
    bool pacesItself() const override { return true; }
    void setWakeup(std::function<void()> wake) override { wake_ = std::move(wake); }
    std::uint64_t underruns() const override { return underruns_; }

private:
    static void contextChanged(pa_context *context, void *self);
    static void streamChanged(pa_stream *stream, void *self);
    static void writeRequested(pa_stream *stream, std::size_t bytes, void *self);
    static void underflowed(pa_stream *stream, void *self);
    static void timedOut(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self);

    // The following run with the main loop locked.
    void stateChanged(bool brokeDown);
    void pump();
    void flushLocked();
    void corkLocked(bool cork);
    void wake();

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    std::atomic<bool> ready_ = false;  // the stream is up and the connection alive
    bool failed_ = false;              // the connection broke down or was refused
    bool waitTimedOut_ = false;
    bool corked_ = false;
    bool inUtterance_ = false;
    bool triggerPending_ = false;     // an utterance ended: start it even below the prebuffer
    std::size_t capacity_ = 0;         // samples the queue may hold
    std::int64_t written_ = 0;         // bytes handed to the server on this stream
    std::int64_t utteranceStart_ = 0;  // where the current utterance begins in them
    std::vector<int16_t> queue_;       // samples the server did not ask for yet
    std::size_t queueHead_ = 0;
    std::function<void()> wake_;
    std::atomic<std::uint64_t> underruns_ = 0;
};

} // namespace lesemund::speech
