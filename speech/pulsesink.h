#pragma once
// The desktop's sound server through the PulseAudio simple API (PipeWire's
// pulse server serves it as well). Writing blocks at the pace of the sound
// card. The server keeps about 80 ms of speech ahead of the loudspeaker;
// pause, stop and cutting off flush it, so they are heard at once, and a
// pause writes again what was flushed unheard.
#include "speech/audiosink.h"

#include <QString>

struct pa_simple;

namespace lesemund::speech {

class PulseSink : public AudioSink {
public:
    PulseSink() = default;
    ~PulseSink() override;

    bool open(int sampleRate) override;
    bool isOpen() const override { return stream_ != nullptr; }
    void close() override;
    void beginUtterance() override;
    bool write(const int16_t *samples, std::size_t count) override;
    void endUtterance(bool cutOff) override;
    void silence() override;
    std::vector<int16_t> hold() override;
    bool pacesItself() const override { return true; }
    bool closeWhenIdle() const override { return true; }

private:
    pa_simple *stream_ = nullptr;
    int sampleRate_ = 0;
    // The latest samples of the current utterance, to be played again after
    // a pause (what the server had not played yet when it was flushed).
    std::vector<int16_t> recent_;
};

} // namespace lesemund::speech
