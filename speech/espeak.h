#pragma once
// The process-wide espeak-ng library in synchronous mode. espeak-ng keeps its
// state in globals, so every use goes through this one object and one lock:
// one text is synthesised at a time in the whole process.
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace lesemund::speech {

// How espeak-ng speaks: words per minute, pitch and volume in percent, and
// the variant of the language's voice ("f4"; empty for the voice as it is).
struct EspeakVoice {
    int rate = 175;
    int pitch = 50;
    int volume = 100;
    QString variant;
};

// The German voices offered to the listener, by readable name, the
// standard one first.
struct NamedVariant {
    const char *name;    // UTF-8, as announced ("Deutsch, Frau")
    const char *variant; // espeak-ng's variant, empty for the standard voice
};
const std::vector<NamedVariant> &germanVoices();
// The variant of the voice named `name`; empty (the standard voice) for a
// name not among germanVoices().
QString variantOfVoice(const QString &name);

class Espeak {
public:
    static Espeak &instance();

    // Loads the library and the German voice on first use; later calls return
    // the first result at once. The sample rate of the PCM it produces (16 bit,
    // mono), or 0 when espeak-ng cannot run (no voice data): then nothing is
    // ever spoken, and the program goes on. While another thread holds the
    // library it waits, asking `giveUp` every 50 ms; -1 when it gave up.
    int initialize(const std::function<bool()> &giveUp = {});

    // True when some installed voice speaks `code` ("de", "en-gb"). Only
    // meaningful after initialize() has returned a sample rate.
    bool isLanguage(const QString &code) const;

    // Receives PCM while a text is being synthesised; returns false to abort.
    using PcmReceiver = std::function<bool(const int16_t *samples, int count)>;

    // Outcome of waiting for the library: acquired, or given up because
    // `giveUp` said so while another synthesis held it.
    enum class Result { Done, NotAvailable, GaveUp };

    // Synthesises `text` (UTF-8 is passed to espeak-ng) with a voice of
    // `language` shaped by `voice`, as SSML when `ssml` is set, handing the
    // PCM to `receiver` on the calling thread. Blocks until the text is done
    // or aborted. While another thread synthesises, it waits, asking `giveUp`
    // every 50 ms.
    Result synthesize(const QString &text, const QString &language, bool ssml,
                      const PcmReceiver &receiver,
                      const std::function<bool()> &giveUp = {}, const EspeakVoice &voice = {});

    // The whole PCM of a text, synthesised on the calling thread. Serves as a
    // reference in tests and the benchmark.
    std::vector<int16_t> render(const QString &text, const QString &language = QStringLiteral("de"),
                                bool ssml = false, const EspeakVoice &voice = {});

private:
    Espeak() = default;
    bool acquire(std::unique_lock<std::timed_mutex> &lock, const std::function<bool()> &giveUp);
    int initializeLocked();
    void selectLanguageLocked(const QString &language);
    void selectVoiceLocked(const QString &language, const QString &variant);

    std::timed_mutex mutex_;
    bool initialized_ = false;
    std::atomic<bool> ready_ = false; // languages_ is complete and stays as it is
    int sampleRate_ = 0;
    QSet<QString> languages_;
    QString currentLanguage_;
    QString currentVariant_;
};

} // namespace lesemund::speech
