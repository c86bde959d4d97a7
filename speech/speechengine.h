#pragma once
// The speech engine behind the speech page: espeak-ng synthesising on a
// worker thread, a small buffered player writing short chunks to the sink on
// a second thread. Every command only changes shared state and returns at
// once; it never waits for synthesis or sound.
#include "platform/desktopspeech.h"
#include "speech/audiosink.h"
#include "speech/voicesettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace lesemund::speech {

// A text to speak: Unicode, or the bytes of a speech file in Windows-1252,
// which are decoded on the engine's worker so that a click never pays for it.
class SpeechText {
public:
    SpeechText() = default;
    SpeechText(QString text) : text_(std::move(text)) {}
    SpeechText(const char *utf8) : text_(QString::fromUtf8(utf8)) {}
    static SpeechText fromAnsi(QByteArray bytes);

    QString toString() const;

private:
    QString text_;
    QByteArray ansi_;
    bool isAnsi_ = false;
};

struct UtteranceInfo {
    std::uint64_t id = 0;
    QString text;        // what espeak-ng receives (without the voice directive)
    QString language;    // the language of the voice chosen for it
    bool ssml = false;
};

// Instrumentation for tests and the benchmark. The functions run on the
// engine's threads and must not call back into the engine.
struct EngineObserver {
    // Synthesis of an utterance begins (worker thread).
    std::function<void(const UtteranceInfo &)> synthesisStarted;
    // The first samples of an utterance were handed to the sink (player thread).
    std::function<void(std::uint64_t id, std::chrono::steady_clock::time_point)> firstSample;
};

// What the listener hears when the desktop's speech cannot be reached.
inline constexpr const char *kDesktopUnreachable = "Sprachausgabe des Desktops nicht erreichbar";

class SpeechEngine {
public:
    // Starts the worker and the player; espeak-ng is loaded on the worker, so
    // this returns at once. Commands given before it is ready wait for it.
    // The texts are spoken with `voice`; the desktop's speech, when chosen,
    // is reached through connections that `desktop` makes (none: it is never
    // reachable).
    explicit SpeechEngine(std::unique_ptr<AudioSink> sink, VoiceSettings voice = {},
                          platform::DesktopSpeechFactory desktop = {});
    // Silences the speech and ends its threads. A player stuck in a sink that
    // does not return, or a desktop service that does not answer, is let go
    // after half a second instead of waited for.
    ~SpeechEngine();

    SpeechEngine(const SpeechEngine &) = delete;
    SpeechEngine &operator=(const SpeechEngine &) = delete;

    // Cuts off what is being spoken and queued, then speaks `text` (which may
    // begin with a voice directive).
    void speakNow(const SpeechText &text);
    // Speaks `text` after everything queued before it.
    void enqueue(const SpeechText &text);
    // Holds the current speech; nothing happens when nothing is being spoken.
    void pause();
    // Goes on where the speech was held.
    void resume();
    // Silences the speech and empties the queue.
    void stop();
    // Cuts off and speaks the last text again: the one heard last, or the one
    // a cutting command just handed over. Nothing before the first text.
    void repeat();

    // The voice of the texts from the next one on (the one being spoken keeps
    // its voice). Choosing the desktop's speech connects to it on the
    // worker; when that fails, or the service goes away later, the listener
    // is told so once, in front of the next text, and the texts go on in the
    // embedded voice until the desktop's speech is chosen anew.
    void setVoice(const VoiceSettings &voice);
    VoiceSettings voice() const;
    // The voices `output` offers, German ones only when there are any; the
    // desktop's are known a little after the first connection, empty before.
    QStringList voiceNames(VoiceSettings::Output output) const;
    static QStringList embeddedVoiceNames();

    bool isPaused() const;
    // Waits until nothing is queued, synthesised or played; false on timeout.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    void setObserver(EngineObserver observer);

    // Gaps inside utterances because the output got its samples too late.
    std::uint64_t outputUnderruns() const;

private:
    struct Shared;
    struct Desktop;
    enum class DesktopResult { Spoken, CutOff, Lost };
    static void synthesisLoop(std::shared_ptr<Shared> d);
    static void playerLoop(std::shared_ptr<Shared> d);
    static void connectDesktop(const std::shared_ptr<Shared> &d, Desktop &desktop);
    static DesktopResult speakOnDesktop(const std::shared_ptr<Shared> &d, Desktop &desktop, std::uint64_t id,
                                        const SpeechText &text, const QString &prepared, bool ssml,
                                        const VoiceSettings &voice);

    std::shared_ptr<Shared> d_;
    std::thread worker_;
    std::thread player_;
};

} // namespace lesemund::speech
