#pragma once
// Where the synthesised speech goes: the desktop's sound server, numbered WAV
// files or nowhere. The player of the speech engine calls a sink from its own
// thread only.
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace lesemund::speech {

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Prepares the output for 16-bit mono PCM at `sampleRate`. False when it
    // is not available now; the player tries again with the next utterance.
    virtual bool open(int sampleRate) = 0;
    // False once the output broke down, also when it noticed that on its own
    // (a sound server that went away); the player then opens it anew.
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // An utterance begins; its samples follow.
    virtual void beginUtterance() {}

    // Hands samples to the output and returns at once. A sink that plays at
    // the device's pace (pacesItself()) takes at most room() samples; the
    // others take any number and the player paces them like a sound card.
    // False when the output broke down.
    virtual bool write(const int16_t *samples, std::size_t count) = 0;

    // How many samples write() takes now, for sinks that pace themselves.
    virtual std::size_t room() const { return 0; }

    // The utterance ended, at its end or cut off (then anything still
    // buffered for playing is dropped).
    virtual void endUtterance(bool cutOff) { (void)cutOff; }

    // Cut off between utterances: drops what was handed over for playing
    // but is not heard yet.
    virtual void silence() {}

    // Pause: stops the sound at once. A sink that cannot keep what was handed
    // over but not heard yet gives those samples back, to be written again
    // when the speech goes on; one that keeps them returns nothing and plays
    // them after proceed().
    virtual std::vector<int16_t> hold() { return {}; }
    virtual void proceed() {}

    // Nothing was played for a while.
    virtual void idle() {}

    virtual bool pacesItself() const { return false; }

    // A sink that paces itself calls `wake` from any thread when it has room
    // again or broke down. Set before open().
    virtual void setWakeup(std::function<void()> wake) { (void)wake; }

    // Gaps inside an utterance because the samples came too late.
    virtual std::uint64_t underruns() const { return 0; }
};

// Each utterance as a numbered WAV file "0001.wav", "0002.wav", ... in a
// folder (created when needed; numbering goes on after the files already
// there). The header is brought up to date with every write, so the file is
// a valid WAV file at every moment and grows as the speech is heard.
class WavFileSink : public AudioSink {
public:
    explicit WavFileSink(QString folder);
    ~WavFileSink() override;

    bool open(int sampleRate) override;
    bool isOpen() const override { return open_; }
    void close() override;
    void beginUtterance() override;
    bool write(const int16_t *samples, std::size_t count) override;
    void endUtterance(bool cutOff) override;

    QString folder() const { return folder_; }
    // The file name of utterance `number` ("0007.wav").
    static QString fileName(int number);

private:
    void closeFile();

    QString folder_;
    bool open_ = false;
    int sampleRate_ = 0;
    int nextNumber_ = 1;
    int fd_ = -1;
    std::uint32_t dataBytes_ = 0;
};

// Discards the speech, at the pace it would be heard.
class SilentSink : public AudioSink {
public:
    bool open(int) override { return open_ = true; }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    bool write(const int16_t *, std::size_t) override { return true; }

private:
    bool open_ = false;
};

} // namespace lesemund::speech
