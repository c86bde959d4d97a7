#include "speech/espeak.h"

#include <espeak-ng/speak_lib.h>

#include <cstring>

// libespeak-ng 1.51 asks libpcaudio for a sound device while it initialises,
// even in synchronous mode, where it never plays; pcaudio then opens a
// stream on the sound server and closes it again. The program's own
// definition comes before libpcaudio's when the dynamic linker binds
// libespeak-ng's call, so espeak-ng gets no device and opens nothing. In
// synchronous mode it never uses one (espeak_Terminate would, and the
// program never calls it).
extern "C" struct audio_object *create_audio_device_object(const char *, const char *, const char *) {
    return nullptr;
}

namespace lesemund::speech {

namespace {

// The receiver of the synthesis in progress. Only set while mutex_ is held.
const Espeak::PcmReceiver *g_receiver = nullptr;

int synthCallback(short *wav, int count, espeak_EVENT *) {
    if (!g_receiver)
        return 1;
    if (wav == nullptr || count <= 0)
        return 0;
    return (*g_receiver)(reinterpret_cast<const int16_t *>(wav), count) ? 0 : 1;
}

// espeak-ng hands over PCM in blocks of this many milliseconds; small blocks
// make the first sound come early.
constexpr int kBufferMilliseconds = 20;

} // namespace

const std::vector<NamedVariant> &germanVoices() {
    // espeak-ng's own variants, named by what is heard.
    static const std::vector<NamedVariant> voices = {
        {"Deutsch, Mann", ""},
        {"Deutsch, Mann, tief", "m8"},
        {"Deutsch, Mann, rau", "m1"},
        {"Deutsch, Mann, mit Hall", "m2"},
        {"Deutsch, Frau", "f4"},
        {"Deutsch, Frau, hoch", "f3"},
        {"Deutsch, Frau, rau", "f1"},
        {"Deutsch, Klatt-Synthese", "klatt"},
        {"Deutsch, flüsternd", "whisper"},
    };
    return voices;
}

QString variantOfVoice(const QString &name) {
    for (const NamedVariant &v : germanVoices()) {
        if (name == QString::fromUtf8(v.name))
            return QString::fromLatin1(v.variant);
    }
    return {};
}

Espeak &Espeak::instance() {
    static Espeak *espeak = new Espeak; // never destroyed: threads may outlive main()
    return *espeak;
}

bool Espeak::acquire(std::unique_lock<std::timed_mutex> &lock, const std::function<bool()> &giveUp) {
    while (!lock.try_lock_for(std::chrono::milliseconds(50))) {
        if (giveUp && giveUp())
            return false;
    }
    return true;
}

int Espeak::initialize(const std::function<bool()> &giveUp) {
    std::unique_lock guard(mutex_, std::defer_lock);
    if (!acquire(guard, giveUp))
        return -1;
    return initializeLocked();
}

int Espeak::initializeLocked() {
    if (initialized_)
        return sampleRate_;
    initialized_ = true;
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMilliseconds, nullptr,
                                       espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0)
        return sampleRate_ = 0;
    espeak_SetSynthCallback(synthCallback);
    if (const espeak_VOICE **voices = espeak_ListVoices(nullptr)) {
        for (int v = 0; voices[v]; ++v) {
            // languages: a priority byte, a zero-terminated name, again and
            // again, closed by a zero priority byte.
            const char *p = voices[v]->languages;
            while (p && *p) {
                const char *name = p + 1;
                languages_.insert(QString::fromLatin1(name).toLower());
                p = name + std::strlen(name) + 1;
            }
        }
    }
    sampleRate_ = rate;
    ready_ = true;
    selectLanguageLocked(QStringLiteral("de"));
    return sampleRate_;
}

bool Espeak::isLanguage(const QString &code) const {
    return ready_ && languages_.contains(code.toLower());
}

void Espeak::selectLanguageLocked(const QString &language) {
    if (language == currentLanguage_)
        return;
    const QByteArray name = language.toLatin1();
    espeak_VOICE wanted;
    std::memset(&wanted, 0, sizeof wanted);
    wanted.languages = name.constData();
    if (espeak_SetVoiceByProperties(&wanted) == EE_OK) {
        currentLanguage_ = language;
        currentVariant_.clear();
    } else if (language != QStringLiteral("de")) {
        selectLanguageLocked(QStringLiteral("de"));
    }
}

void Espeak::selectVoiceLocked(const QString &language, const QString &variant) {
    if (variant.isEmpty()) {
        if (!currentVariant_.isEmpty())
            currentLanguage_.clear(); // the variant is left by choosing the voice anew
        selectLanguageLocked(language);
        return;
    }
    if (language == currentLanguage_ && variant == currentVariant_)
        return;
    const QByteArray name = (language + QLatin1Char('+') + variant).toLatin1();
    if (espeak_SetVoiceByName(name.constData()) == EE_OK) {
        currentLanguage_ = language;
        currentVariant_ = variant;
    } else {
        selectVoiceLocked(language, {});
    }
}

Espeak::Result Espeak::synthesize(const QString &text, const QString &language, bool ssml,
                                  const PcmReceiver &receiver, const std::function<bool()> &giveUp,
                                  const EspeakVoice &voice) {
    std::unique_lock guard(mutex_, std::defer_lock);
    if (!acquire(guard, giveUp))
        return Result::GaveUp;
    if (initializeLocked() <= 0)
        return Result::NotAvailable;
    selectVoiceLocked(languages_.contains(language) ? language : QStringLiteral("de"), voice.variant);
    // A new voice resets nothing of these; they are set for every text.
    espeak_SetParameter(espeakRATE, voice.rate, 0);
    espeak_SetParameter(espeakPITCH, voice.pitch, 0);
    espeak_SetParameter(espeakVOLUME, voice.volume, 0);

    QString cleaned = text;
    cleaned.replace(QChar(0), QChar(u' ')); // espeak-ng stops at the first zero
    const QByteArray utf8 = cleaned.toUtf8();
    unsigned int flags = espeakCHARS_UTF8;
    if (ssml)
        flags |= espeakSSML;
    g_receiver = &receiver;
    espeak_Synth(utf8.constData(), static_cast<size_t>(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                 flags, nullptr, nullptr);
    g_receiver = nullptr;
    if (ssml) // SSML may switch voices on its own
        currentLanguage_.clear();
    return Result::Done;
}

std::vector<int16_t> Espeak::render(const QString &text, const QString &language, bool ssml,
                                    const EspeakVoice &voice) {
    std::vector<int16_t> pcm;
    synthesize(text, language, ssml, [&pcm](const int16_t *samples, int count) {
        pcm.insert(pcm.end(), samples, samples + count);
        return true;
    }, {}, voice);
    return pcm;
}

} // namespace lesemund::speech
