#include "speech/speechengine.h"

#include "docreaders/codepage.h"
#include "speech/espeak.h"
#include "speech/voicedirective.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace lesemund::speech {

namespace {

using Clock = std::chrono::steady_clock;

// How far synthesis may run ahead of the loudspeaker.
constexpr int kAheadMilliseconds = 250;
// The player hands sinks that it paces chunks of this length.
constexpr int kChunkMilliseconds = 10;
// Leading silence: samples up to this amplitude (about -54 dBFS) before the
// first louder one are not played, looking at most this far ahead.
constexpr int kSilenceThreshold = 64;
constexpr int kTrimLookAheadMilliseconds = 250;
// Without an output (no sound server yet, or one restarting) the speech
// waits this long from the first failed attempt for the output to come,
// trying again at this interval; then it goes nowhere. Every new utterance
// tries again at once.
constexpr auto kWaitForOutput = std::chrono::seconds(2);
constexpr auto kRetryWhileWaiting = std::chrono::milliseconds(100);
// The sink is told that nothing plays after this long without speech.
constexpr auto kIdleAfter = std::chrono::seconds(1);
// How long the destructor waits for a player stuck in its sink, or a worker
// or voice lister stuck in the desktop's service.
constexpr auto kPlayerGrace = std::chrono::milliseconds(500);
// How often a worker waiting for the desktop's speech looks whether the
// service is still there (it tells nothing when it goes away).
constexpr auto kDesktopCheck = std::chrono::milliseconds(100);

struct Utterance {
    std::uint64_t id = 0;
    SpeechText text;
};

struct Chunk {
    std::uint64_t id = 0;
    std::vector<int16_t> samples;
    std::size_t offset = 0;
    bool last = false; // marks the end of utterance `id`
    std::shared_ptr<const SpeechText> text;
};

// The engine's threads run as batch threads: a click that wakes them does
// not hand its processor over to them before it has returned. Their share of
// the processor stays the same.
void runAsBatchThread() {
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param); // failure changes nothing
}

Clock::duration durationOf(std::uint64_t samples, int rate) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(samples) / rate));
}

VoiceSettings clamped(VoiceSettings v) {
    v.rate = std::clamp(v.rate, VoiceSettings::kMinRate, VoiceSettings::kMaxRate);
    v.pitch = std::clamp(v.pitch, VoiceSettings::kMinPercent, VoiceSettings::kMaxPercent);
    v.volume = std::clamp(v.volume, VoiceSettings::kMinPercent, VoiceSettings::kMaxPercent);
    return v;
}

// The desktop service's scale runs from -100 to 100 with its own default
// at 0: the default rate and pitch are put there and the limits at its ends.
// Its volume +100 is the synthesizer's own: 100 % goes there, 0 % to -100.
int serviceScale(int value, int low, int standard, int high) {
    if (value <= standard)
        return standard == low ? 0 : (value - standard) * 100 / (standard - low);
    return (value - standard) * 100 / (high - standard);
}

bool isGerman(const QString &language) {
    const QString l = language.toLower();
    return l == QStringLiteral("de") || l.startsWith(QStringLiteral("de-")) || l.startsWith(QStringLiteral("de_"));
}

// The text from `offset` on as SSML with a mark in front of every word,
// named by the word's place in the whole text: the desktop's service tells
// when it reaches each, so that speech held by a pause goes on with the word
// it was in.
QString markedSsml(const QString &text, qsizetype offset) {
    QString ssml = QStringLiteral("<speak>");
    ssml.reserve(ssml.size() + (text.size() - offset) * 2);
    bool inWord = false;
    for (qsizetype i = offset; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool space = c.isSpace() || c.unicode() < 0x20;
        if (!space && !inWord)
            ssml += QStringLiteral("<mark name=\"%1\"/>").arg(i);
        inWord = !space;
        if (c == u'&')
            ssml += QStringLiteral("&amp;");
        else if (c == u'<')
            ssml += QStringLiteral("&lt;");
        else if (c == u'>')
            ssml += QStringLiteral("&gt;");
        else
            ssml += space ? QChar(u' ') : c;
    }
    return ssml + QStringLiteral("</speak>");
}

QStringList namesToOffer(const std::vector<platform::DesktopSpeech::Voice> &voices) {
    QStringList german, all;
    for (const auto &v : voices) {
        if (!all.contains(v.name))
            all.append(v.name);
        if (isGerman(v.language) && !german.contains(v.name))
            german.append(v.name);
    }
    return german.isEmpty() ? all : german;
}

} // namespace

// The worker's connection to the desktop's speech.
struct SpeechEngine::Desktop {
    std::unique_ptr<platform::DesktopSpeech> service;
    std::uint64_t handledSwitch = 0; // the last choice of the desktop's speech acted on
    bool connected = false;
    bool noticeDue = false;          // the listener is still to hear that it is unreachable
    // What the connection was given, to give only what changes.
    std::optional<std::tuple<int, int, int>> prosody;
    QString voiceName;
};

struct SpeechEngine::Shared {
    mutable std::mutex m;
    mutable std::condition_variable cv;

    std::unique_ptr<AudioSink> sink; // the player's alone
    EngineObserver observer;

    std::deque<Utterance> pending;
    std::deque<Chunk> audio;
    std::size_t audioSamples = 0;

    std::uint64_t nextId = 1;
    std::uint64_t liveFrom = 1;     // utterances below this id were cut off
    std::uint64_t synthesizing = 0; // id on the worker, 0 for none
    std::uint64_t playing = 0;      // id in the player, 0 for none

    bool paused = false;
    bool shutdown = false;
    bool started = false;           // the worker has loaded espeak-ng (or failed to)
    int sampleRate = 0;
    bool playerDone = false;
    bool sinkWoke = false;          // the sink has room again or broke down

    bool hasLast = false;
    SpeechText lastText;

    VoiceSettings voice;
    platform::DesktopSpeechFactory desktopFactory;
    std::uint64_t desktopSwitch = 0;     // counts the choices of the desktop's speech
    int desktopFinished = -1;            // the newest of its messages that ended or was cancelled
    int desktopMarkMessage = -1;         // the message of the last mark reached
    qsizetype desktopMark = 0;           // and the mark's place in its text
    bool desktopVoicesKnown = false;
    QStringList desktopVoices;
    bool workerDone = false;
    int listers = 0;                     // voice listers still running

    bool activeLocked() const {
        return !pending.empty() || synthesizing != 0 || !audio.empty() || playing != 0;
    }

    void cutOffLocked() {
        pending.clear();
        liveFrom = nextId;
        paused = false;
    }

    void queueLocked(const SpeechText &text) { pending.push_back(Utterance{nextId++, text}); }
};

SpeechText SpeechText::fromAnsi(QByteArray bytes) {
    SpeechText text;
    text.ansi_ = std::move(bytes);
    text.isAnsi_ = true;
    return text;
}

QString SpeechText::toString() const { return isAnsi_ ? codepage::fromAnsi(ansi_) : text_; }

SpeechEngine::SpeechEngine(std::unique_ptr<AudioSink> sink, VoiceSettings voice,
                           platform::DesktopSpeechFactory desktop)
    : d_(std::make_shared<Shared>()) {
    d_->sink = sink ? std::move(sink) : std::make_unique<SilentSink>();
    d_->voice = clamped(voice);
    d_->desktopFactory = std::move(desktop);
    if (d_->voice.output == VoiceSettings::Output::Desktop)
        d_->desktopSwitch = 1;
    worker_ = std::thread(&SpeechEngine::synthesisLoop, d_);
    player_ = std::thread(&SpeechEngine::playerLoop, d_);
}

SpeechEngine::~SpeechEngine() {
    {
        std::lock_guard lock(d_->m);
        d_->shutdown = true;
        d_->pending.clear();
        d_->liveFrom = std::numeric_limits<std::uint64_t>::max();
    }
    d_->cv.notify_all();
    bool workerFinished, playerFinished;
    {
        std::unique_lock lock(d_->m);
        workerFinished = d_->cv.wait_for(lock, kPlayerGrace, [this] { return d_->workerDone; });
        playerFinished = d_->cv.wait_for(lock, kPlayerGrace, [this] { return d_->playerDone; });
        d_->cv.wait_for(lock, kPlayerGrace, [this] { return d_->listers == 0; }); // the rest are let go
    }
    if (worker_.joinable()) {
        if (workerFinished)
            worker_.join();
        else
            worker_.detach(); // it owns a share of the state and ends when the service answers
    }
    if (player_.joinable()) {
        if (playerFinished)
            player_.join();
        else
            player_.detach(); // it owns a share of the state and ends when its sink returns
    }
}

void SpeechEngine::speakNow(const SpeechText &text) {
    {
        std::lock_guard lock(d_->m);
        d_->cutOffLocked();
        d_->queueLocked(text);
        d_->lastText = text;
        d_->hasLast = true;
    }
    d_->cv.notify_all();
}

void SpeechEngine::enqueue(const SpeechText &text) {
    {
        std::lock_guard lock(d_->m);
        if (!d_->activeLocked()) {
            d_->lastText = text;
            d_->hasLast = true;
        }
        d_->queueLocked(text);
    }
    d_->cv.notify_all();
}

void SpeechEngine::pause() {
    {
        std::lock_guard lock(d_->m);
        if (d_->activeLocked())
            d_->paused = true;
    }
    d_->cv.notify_all();
}

void SpeechEngine::resume() {
    {
        std::lock_guard lock(d_->m);
        d_->paused = false;
    }
    d_->cv.notify_all();
}

void SpeechEngine::stop() {
    {
        std::lock_guard lock(d_->m);
        d_->cutOffLocked();
    }
    d_->cv.notify_all();
}

void SpeechEngine::repeat() {
    {
        std::lock_guard lock(d_->m);
        if (!d_->hasLast)
            return;
        d_->cutOffLocked();
        d_->queueLocked(d_->lastText);
    }
    d_->cv.notify_all();
}

void SpeechEngine::setVoice(const VoiceSettings &voice) {
    {
        std::lock_guard lock(d_->m);
        if (voice.output == VoiceSettings::Output::Desktop && d_->voice.output != VoiceSettings::Output::Desktop)
            ++d_->desktopSwitch;
        d_->voice = clamped(voice);
    }
    d_->cv.notify_all();
}

VoiceSettings SpeechEngine::voice() const {
    std::lock_guard lock(d_->m);
    return d_->voice;
}

QStringList SpeechEngine::voiceNames(VoiceSettings::Output output) const {
    if (output == VoiceSettings::Output::Desktop) {
        std::lock_guard lock(d_->m);
        return d_->desktopVoices;
    }
    return embeddedVoiceNames();
}

QStringList SpeechEngine::embeddedVoiceNames() {
    QStringList names;
    for (const NamedVariant &v : germanVoices())
        names.append(QString::fromUtf8(v.name));
    return names;
}

bool SpeechEngine::isPaused() const {
    std::lock_guard lock(d_->m);
    return d_->paused;
}

bool SpeechEngine::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d_->m);
    return d_->cv.wait_for(lock, timeout, [this] { return !d_->activeLocked(); });
}

std::uint64_t SpeechEngine::outputUnderruns() const { return d_->sink->underruns(); }

void SpeechEngine::setObserver(EngineObserver observer) {
    std::lock_guard lock(d_->m);
    d_->observer = std::move(observer);
}

void SpeechEngine::synthesisLoop(std::shared_ptr<Shared> d) {
    runAsBatchThread();
    Espeak &espeak = Espeak::instance();
    const auto shuttingDown = [&d] {
        std::lock_guard lock(d->m);
        return d->shutdown;
    };
    const int rate = std::max(0, espeak.initialize(shuttingDown));
    {
        std::lock_guard lock(d->m);
        d->sampleRate = rate;
        d->started = true;
    }
    d->cv.notify_all();

    Desktop desktop;
    for (;;) {
        Utterance utterance;
        EngineObserver observer;
        VoiceSettings voice;
        {
            std::unique_lock lock(d->m);
            d->cv.wait(lock, [&] {
                return d->shutdown || !d->pending.empty() || d->desktopSwitch != desktop.handledSwitch;
            });
            if (d->shutdown)
                break;
            if (d->desktopSwitch != desktop.handledSwitch) {
                // Connected at once, so that its voices become known.
                desktop.handledSwitch = d->desktopSwitch;
                lock.unlock();
                connectDesktop(d, desktop);
                continue;
            }
            utterance = std::move(d->pending.front());
            d->pending.pop_front();
            d->synthesizing = utterance.id;
            observer = d->observer;
            voice = d->voice;
        }
        const std::uint64_t id = utterance.id;
        const auto text = std::make_shared<const SpeechText>(utterance.text);
        const PreparedText prepared = prepareSpeechText(utterance.text.toString());
        const bool desktopChosen = voice.output == VoiceSettings::Output::Desktop;
        bool spoken = false;
        if (desktopChosen && desktop.connected && !prepared.text.trimmed().isEmpty()) {
            const DesktopResult result = speakOnDesktop(d, desktop, id, utterance.text, prepared.text,
                                                        prepared.ssml, voice);
            spoken = result != DesktopResult::Lost;
            if (!spoken) { // said again in the embedded voice, behind the notice
                desktop.connected = false;
                desktop.noticeDue = true;
                desktop.service.reset();
            }
        }
        if (!desktopChosen)
            desktop.noticeDue = false; // the listener left the desktop's speech meanwhile
        if (!spoken && rate > 0 && !prepared.text.trimmed().isEmpty()) {
            const QString language = languageForVoice(
                prepared.voiceName, [&espeak](const QString &code) { return espeak.isLanguage(code); });
            if (observer.synthesisStarted)
                observer.synthesisStarted(UtteranceInfo{id, prepared.text, language, prepared.ssml});
            const std::size_t ahead = static_cast<std::size_t>(rate) * kAheadMilliseconds / 1000;
            const std::size_t lookAhead = static_cast<std::size_t>(rate) * kTrimLookAheadMilliseconds / 1000;
            bool leading = true;          // no audible sample yet
            std::vector<int16_t> silent;  // the leading silence seen so far
            const auto receive = [&](const int16_t *samples, int count) {
                std::vector<int16_t> kept;
                if (leading) {
                    const int16_t *end = samples + count;
                    const int16_t *audible = std::find_if(samples, end, [](int16_t v) {
                        return v > kSilenceThreshold || v < -kSilenceThreshold;
                    });
                    if (audible != end) {
                        leading = false;
                        kept.assign(audible, end);
                    } else {
                        silent.insert(silent.end(), samples, end);
                        if (silent.size() >= lookAhead) { // a pause meant to be heard
                            leading = false;
                            kept = std::move(silent);
                        }
                    }
                } else {
                    kept.assign(samples, samples + count);
                }
                std::unique_lock lock(d->m);
                for (;;) {
                    if (d->shutdown || id < d->liveFrom)
                        return false;
                    if (kept.empty() || d->audioSamples < ahead)
                        break;
                    d->cv.wait(lock);
                }
                if (kept.empty())
                    return true;
                const std::size_t size = kept.size();
                d->audio.push_back(Chunk{id, std::move(kept), 0, false, text});
                d->audioSamples += size;
                lock.unlock();
                d->cv.notify_all();
                return true;
            };
            const auto cutOff = [&d, id] {
                std::lock_guard lock(d->m);
                return d->shutdown || id < d->liveFrom;
            };
            const EspeakVoice shape{voice.rate, voice.pitch, voice.volume, variantOfVoice(voice.voice)};
            if (desktop.noticeDue && desktopChosen) {
                desktop.noticeDue = false; // in front of this text, as part of it
                espeak.synthesize(QString::fromUtf8(kDesktopUnreachable), QStringLiteral("de"), false, receive,
                                  cutOff, shape);
            }
            espeak.synthesize(prepared.text, language, prepared.ssml, receive, cutOff, shape);
        }
        {
            std::lock_guard lock(d->m);
            if (id >= d->liveFrom)
                d->audio.push_back(Chunk{id, {}, 0, true, text});
            d->synthesizing = 0;
        }
        d->cv.notify_all();
    }
    desktop.service.reset();
    {
        std::lock_guard lock(d->m);
        d->workerDone = true;
    }
    d->cv.notify_all();
}

void SpeechEngine::connectDesktop(const std::shared_ptr<Shared> &d, Desktop &desktop) {
    desktop.connected = false;
    desktop.prosody.reset();
    desktop.voiceName.clear();
    desktop.service = d->desktopFactory ? d->desktopFactory() : nullptr;
    // Events reach the engine through its state alone: the service may
    // outlive the engine's threads for a moment.
    const std::weak_ptr<Shared> weak = d;
    const auto listener = [weak](int message, platform::DesktopSpeech::Event event, const QString &mark) {
        using Event = platform::DesktopSpeech::Event;
        if (event == Event::Began)
            return;
        if (const std::shared_ptr<Shared> shared = weak.lock()) {
            {
                std::lock_guard lock(shared->m);
                if (event == Event::Mark) {
                    shared->desktopMarkMessage = message;
                    shared->desktopMark = mark.toLongLong();
                } else {
                    shared->desktopFinished = std::max(shared->desktopFinished, message);
                }
            }
            shared->cv.notify_all();
        }
    };
    desktop.connected = desktop.service && desktop.service->connect(listener);
    if (!desktop.connected) {
        desktop.service.reset();
        desktop.noticeDue = true;
        return;
    }
    std::lock_guard lock(d->m);
    if (d->desktopVoicesKnown || d->listers > 0)
        return;
    // Listing the voices may take the service seconds: a connection of its
    // own asks for them beside the speech.
    ++d->listers;
    std::thread([d] {
        std::unique_ptr<platform::DesktopSpeech> lister = d->desktopFactory();
        const bool ok = lister->connect({});
        const QStringList names = ok ? namesToOffer(lister->voices()) : QStringList();
        lister.reset();
        {
            std::lock_guard lock(d->m);
            if (!names.isEmpty()) {
                d->desktopVoices = names;
                d->desktopVoicesKnown = true;
            }
            --d->listers;
        }
        d->cv.notify_all();
    }).detach();
}

SpeechEngine::DesktopResult SpeechEngine::speakOnDesktop(const std::shared_ptr<Shared> &d, Desktop &desktop,
                                                         std::uint64_t id, const SpeechText &text,
                                                         const QString &prepared, bool ssml,
                                                         const VoiceSettings &voice) {
    std::unique_lock lock(d->m);
    // The embedded voice's speech before it dies away first.
    d->cv.wait(lock, [&] { return d->shutdown || id < d->liveFrom || (d->audio.empty() && d->playing == 0); });
    if (d->shutdown || id < d->liveFrom)
        return DesktopResult::CutOff;
    d->lastText = text; // heard from now on
    d->hasLast = true;
    const bool voiceListed = !d->desktopVoicesKnown || d->desktopVoices.contains(voice.voice);
    const QString voiceName = voiceListed ? voice.voice : QString();
    lock.unlock();

    // A connection that was given a voice goes back to the listener's
    // standard voice only by connecting anew.
    if (voiceName.isEmpty() && !desktop.voiceName.isEmpty()) {
        connectDesktop(d, desktop);
        if (!desktop.connected)
            return DesktopResult::Lost;
    }
    platform::DesktopSpeech &service = *desktop.service;
    const auto prosody = std::make_tuple(
        serviceScale(voice.rate, VoiceSettings::kMinRate, VoiceSettings::kDefaultRate, VoiceSettings::kMaxRate),
        serviceScale(voice.pitch, VoiceSettings::kMinPercent, VoiceSettings::kDefaultPitch, VoiceSettings::kMaxPercent),
        serviceScale(voice.volume, VoiceSettings::kMinPercent, VoiceSettings::kMaxPercent / 2,
                     VoiceSettings::kMaxPercent));
    if (desktop.prosody != prosody) {
        if (!service.setProsody(std::get<0>(prosody), std::get<1>(prosody), std::get<2>(prosody)))
            return DesktopResult::Lost;
        desktop.prosody = prosody;
    }
    if (voiceName != desktop.voiceName) {
        if (!service.setVoice(voiceName))
            return DesktopResult::Lost;
        desktop.voiceName = voiceName;
    }
    // A pause cancels the message at once; Weiter hands over the rest, from
    // the word that was being spoken (an SSML text of the caller's own
    // begins anew).
    int message = -1; // none handed over now
    qsizetype from = 0;
    lock.lock();
    for (;;) {
        if (d->shutdown || id < d->liveFrom) {
            lock.unlock();
            if (message >= 0)
                service.cancel();
            return DesktopResult::CutOff;
        }
        if (message >= 0 && d->desktopFinished >= message)
            return DesktopResult::Spoken;
        if (d->paused && message >= 0) {
            if (!ssml && d->desktopMarkMessage == message)
                from = d->desktopMark;
            lock.unlock();
            const bool ok = service.cancel();
            lock.lock();
            if (!ok)
                return DesktopResult::Lost;
            message = -1;
            continue;
        }
        if (!d->paused && message < 0) {
            lock.unlock();
            message = service.speak(ssml ? prepared : markedSsml(prepared, from), true);
            lock.lock();
            if (message < 0)
                return DesktopResult::Lost;
            continue;
        }
        if (!service.isConnected())
            return DesktopResult::Lost;
        d->cv.wait_for(lock, kDesktopCheck);
    }
}

void SpeechEngine::playerLoop(std::shared_ptr<Shared> d) {
    runAsBatchThread();
    AudioSink &sink = *d->sink;
    // The sink wakes the player from its own thread; it never calls this
    // while the player holds the lock and calls into the sink.
    Shared *shared = d.get();
    sink.setWakeup([shared] {
        {
            std::lock_guard lock(shared->m);
            shared->sinkWoke = true;
        }
        shared->cv.notify_all();
    });
    std::unique_lock lock(d->m);
    d->cv.wait(lock, [&d] { return d->shutdown || d->started; });
    const int rate = d->sampleRate;
    const bool paced = sink.pacesItself();
    const std::size_t chunkSamples =
        std::max<std::size_t>(1, static_cast<std::size_t>(rate) * kChunkMilliseconds / 1000);

    bool sinkOpen = false;
    Clock::time_point nextAttempt = Clock::now();
    std::optional<Clock::time_point> outageSince; // the first failed attempt since the output worked
    std::uint64_t attemptedFor = 0; // the utterance that had its attempt at once
    std::uint64_t dropping = 0;     // the utterance given up for want of an output
    Clock::time_point lastSound = Clock::now();
    bool idleTold = true;        // the sink was told that nothing plays
    std::uint64_t current = 0;   // utterance being played
    std::uint64_t seenLiveFrom = d->liveFrom; // the last cut-off the player acted on
    bool begunInSink = false;    // the sink was told that `current` began
    bool held = false;           // the sink was held for the present pause
    bool clockRunning = false;   // pacing of sinks that do not pace themselves
    Clock::time_point clockStart;
    std::uint64_t clockSamples = 0;

    const auto noteAttempt = [&](bool ok) {
        const Clock::time_point now = Clock::now();
        if (ok) {
            outageSince.reset();
        } else {
            if (!outageSince)
                outageSince = now;
            nextAttempt = now + kRetryWhileWaiting;
        }
    };
    const auto tryOpen = [&] {
        lock.unlock();
        const bool ok = sink.open(rate);
        lock.lock();
        sinkOpen = ok;
        begunInSink = false;
        noteAttempt(ok);
    };
    const auto finishCurrent = [&](bool cutOff) {
        const bool tell = sinkOpen && begunInSink;
        current = 0;
        begunInSink = false;
        held = false;
        d->playing = 0;
        if (tell) {
            lock.unlock();
            sink.endUtterance(cutOff);
            lock.lock();
        }
        d->cv.notify_all();
    };

    if (rate > 0 && !d->shutdown)
        tryOpen(); // at once, so that the first speech is not delayed by connecting

    while (!d->shutdown) {
        // What was cut off is dropped, in the sink as well.
        while (!d->audio.empty() && d->audio.front().id < d->liveFrom) {
            const Chunk &front = d->audio.front();
            d->audioSamples -= front.samples.size() - front.offset;
            d->audio.pop_front();
            d->cv.notify_all();
        }
        if (d->liveFrom != seenLiveFrom) {
            seenLiveFrom = d->liveFrom;
            clockRunning = false;
            if (current != 0) {
                finishCurrent(true);
            } else if (sinkOpen) {
                lock.unlock();
                sink.silence(); // the end of the last utterance may still be playing
                lock.lock();
            }
            continue;
        }

        if (d->paused) {
            clockRunning = false;
            if (current != 0 && !held && sinkOpen && begunInSink) {
                held = true;
                const std::uint64_t heldId = current;
                lock.unlock();
                std::vector<int16_t> unheard = sink.hold();
                lock.lock();
                if (!unheard.empty() && heldId >= d->liveFrom) {
                    d->audioSamples += unheard.size();
                    d->audio.push_front(Chunk{heldId, std::move(unheard), 0, false, nullptr});
                }
                continue;
            }
            d->cv.wait(lock);
            continue;
        }
        if (held) {
            held = false;
            if (sinkOpen) {
                lock.unlock();
                sink.proceed();
                lock.lock();
            }
            continue;
        }

        if (d->audio.empty()) {
            clockRunning = false;
            if (sinkOpen && current == 0 && !idleTold) {
                if (Clock::now() - lastSound >= kIdleAfter) {
                    idleTold = true;
                    lock.unlock();
                    sink.idle();
                    lock.lock();
                    continue;
                }
                d->cv.wait_until(lock, lastSound + kIdleAfter);
            } else {
                d->cv.wait(lock);
            }
            continue;
        }

        Chunk &front = d->audio.front();
        if (front.last) {
            const std::uint64_t id = front.id;
            d->audio.pop_front();
            if (current == id)
                finishCurrent(false);
            d->cv.notify_all();
            continue;
        }

        // A connection that broke down while idle or speaking is replaced
        // at once; without one the speech waits a little for the output.
        if (sinkOpen && !sink.isOpen()) {
            lock.unlock();
            sink.close();
            lock.lock();
            sinkOpen = false;
            begunInSink = false;
            continue;
        }
        if (!sinkOpen && rate > 0 && front.id != dropping) {
            const Clock::time_point now = Clock::now();
            if (front.id != attemptedFor || now >= nextAttempt) {
                attemptedFor = front.id;
                tryOpen();
                continue; // the state may have changed meanwhile
            }
            if (outageSince && now - *outageSince < kWaitForOutput) {
                d->cv.wait_until(lock, nextAttempt);
                continue;
            }
            dropping = front.id;
        }

        std::size_t count = front.samples.size() - front.offset;
        if (sinkOpen && paced) {
            d->sinkWoke = false;
            lock.unlock();
            const std::size_t room = sink.room();
            lock.lock();
            if (room == 0) {
                d->cv.wait_for(lock, std::chrono::milliseconds(50), [&d, seenLiveFrom] {
                    return d->sinkWoke || d->shutdown || d->paused || d->liveFrom != seenLiveFrom;
                });
                continue;
            }
            if (d->paused || d->liveFrom != seenLiveFrom || d->audio.empty() || &d->audio.front() != &front)
                continue;
            count = std::min(count, room);
        } else if (sinkOpen) {
            const Clock::time_point now = Clock::now();
            const auto chunk = std::chrono::milliseconds(kChunkMilliseconds);
            if (!clockRunning || now > clockStart + durationOf(clockSamples, rate) + chunk) {
                clockStart = now;
                clockSamples = 0;
                clockRunning = true;
            }
            const Clock::time_point due = clockStart + durationOf(clockSamples, rate);
            if (now < due) {
                d->cv.wait_until(lock, due);
                continue;
            }
            count = std::min(count, chunkSamples);
        }

        // Take the next piece.
        const std::uint64_t id = front.id;
        std::vector<int16_t> piece(front.samples.begin() + static_cast<std::ptrdiff_t>(front.offset),
                                   front.samples.begin() + static_cast<std::ptrdiff_t>(front.offset + count));
        const std::shared_ptr<const SpeechText> text = front.text;
        front.offset += count;
        d->audioSamples -= count;
        if (front.offset >= front.samples.size())
            d->audio.pop_front();
        d->cv.notify_all(); // room for the worker

        if (current != id) {
            current = id;
            begunInSink = false;
            d->playing = id;
            if (text) {
                d->lastText = *text;
                d->hasLast = true;
            }
        }
        if (!sinkOpen)
            continue; // no output: the speech goes nowhere

        const bool first = !begunInSink;
        const auto firstSample = d->observer.firstSample;
        lock.unlock();
        if (first)
            sink.beginUtterance();
        bool ok = sink.write(piece.data(), piece.size());
        if (!ok) {
            // A connection that failed now is tried once more at once.
            sink.close();
            ok = sink.open(rate);
            if (ok) {
                sink.beginUtterance();
                ok = sink.write(piece.data(), piece.size());
                if (!ok)
                    sink.close();
            }
        }
        const Clock::time_point written = Clock::now();
        if (ok && first && firstSample)
            firstSample(id, written);
        lock.lock();
        noteAttempt(ok);
        if (ok) {
            begunInSink = true;
            lastSound = written;
            idleTold = false;
            clockSamples += count;
        } else {
            sinkOpen = false;
            begunInSink = false;
            attemptedFor = id;
            // Kept for the output to come back.
            d->audioSamples += piece.size();
            d->audio.push_front(Chunk{id, std::move(piece), 0, false, text});
        }
    }

    const bool tell = sinkOpen && begunInSink;
    d->playing = 0;
    lock.unlock();
    if (tell)
        sink.endUtterance(true);
    sink.close();
    sink.setWakeup({});
    lock.lock();
    d->playerDone = true;
    lock.unlock();
    d->cv.notify_all();
}

} // namespace lesemund::speech
