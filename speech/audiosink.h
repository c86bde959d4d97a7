#pragma once
// Where the synthesised speech goes: the desktop's sound server, numbered WAV
// files or nowhere. The player of the speech engine calls a sink from its own
// thread only.
#include <QString>

#include <cstdint>
#include <vector>

namespace lesemund::speech {

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Prepares the output for 16-bit mono PCM at `sampleRate`. False when it
    // is not available now; the player then discards speech and tries again
    // now and then.
    virtual bool open(int sampleRate) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // An utterance begins; its samples follow.
    virtual void beginUtterance() {}

    // Hands samples to the output. A sink that plays at the device's pace
    // (pacesItself()) may block here until the device has room; the others
    // return at once and the player paces them like a sound card. False when
    // the output broke down: the player closes it and retries later.
    virtual bool write(const int16_t *samples, std::size_t count) = 0;

    // The utterance ended, at its end or cut off (then anything still
    // buffered for playing is dropped).
    virtual void endUtterance(bool cutOff) { (void)cutOff; }

    // Cut off between utterances: drops what was handed over for playing
    // but is not heard yet.
    virtual void silence() {}

    // Pause: stops the sound at once and gives back the samples that were
    // handed over but not yet heard, so that they are written again when the
    // speech goes on.
    virtual std::vector<int16_t> hold() { return {}; }

    virtual bool pacesItself() const { return false; }

    // Whether the player should let go of the output after a long silence.
    virtual bool closeWhenIdle() const { return false; }
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
