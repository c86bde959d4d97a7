#include "speech/speechengine.h"

#include "platform/codepage.h"
#include "speech/espeak.h"
#include "speech/voicedirective.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace lesemund::speech {

namespace {

using Clock = std::chrono::steady_clock;

// How far synthesis may run ahead of the loudspeaker.
constexpr int kAheadMilliseconds = 250;
// The player hands the sink chunks of this length.
constexpr int kChunkMilliseconds = 10;
// An output that could not be opened is tried again after this long.
constexpr auto kRetryInterval = std::chrono::seconds(5);
// A sound server connection is let go after this long without speech.
constexpr auto kIdleClose = std::chrono::seconds(30);
// How long the destructor waits for a player stuck in its sink.
constexpr auto kPlayerGrace = std::chrono::milliseconds(500);

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

} // namespace

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

    bool hasLast = false;
    SpeechText lastText;

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

SpeechEngine::SpeechEngine(std::unique_ptr<AudioSink> sink) : d_(std::make_shared<Shared>()) {
    d_->sink = sink ? std::move(sink) : std::make_unique<SilentSink>();
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
    if (worker_.joinable())
        worker_.join();
    bool playerFinished;
    {
        std::unique_lock lock(d_->m);
        playerFinished = d_->cv.wait_for(lock, kPlayerGrace, [this] { return d_->playerDone; });
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

bool SpeechEngine::isPaused() const {
    std::lock_guard lock(d_->m);
    return d_->paused;
}

bool SpeechEngine::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d_->m);
    return d_->cv.wait_for(lock, timeout, [this] { return !d_->activeLocked(); });
}

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

    for (;;) {
        Utterance utterance;
        EngineObserver observer;
        {
            std::unique_lock lock(d->m);
            d->cv.wait(lock, [&d] { return d->shutdown || !d->pending.empty(); });
            if (d->shutdown)
                break;
            utterance = std::move(d->pending.front());
            d->pending.pop_front();
            d->synthesizing = utterance.id;
            observer = d->observer;
        }
        const std::uint64_t id = utterance.id;
        const auto text = std::make_shared<const SpeechText>(utterance.text);
        const PreparedText prepared = prepareSpeechText(utterance.text.toString());
        if (rate > 0 && !prepared.text.trimmed().isEmpty()) {
            const QString language = languageForVoice(
                prepared.voiceName, [&espeak](const QString &code) { return espeak.isLanguage(code); });
            if (observer.synthesisStarted)
                observer.synthesisStarted(UtteranceInfo{id, prepared.text, language, prepared.ssml});
            const std::size_t ahead = static_cast<std::size_t>(rate) * kAheadMilliseconds / 1000;
            const auto receive = [&](const int16_t *samples, int count) {
                std::unique_lock lock(d->m);
                for (;;) {
                    if (d->shutdown || id < d->liveFrom)
                        return false;
                    if (d->audioSamples < ahead)
                        break;
                    d->cv.wait(lock);
                }
                d->audio.push_back(Chunk{id, std::vector<int16_t>(samples, samples + count), 0, false, text});
                d->audioSamples += static_cast<std::size_t>(count);
                lock.unlock();
                d->cv.notify_all();
                return true;
            };
            const auto cutOff = [&d, id] {
                std::lock_guard lock(d->m);
                return d->shutdown || id < d->liveFrom;
            };
            espeak.synthesize(prepared.text, language, prepared.ssml, receive, cutOff);
        }
        {
            std::lock_guard lock(d->m);
            if (id >= d->liveFrom)
                d->audio.push_back(Chunk{id, {}, 0, true, text});
            d->synthesizing = 0;
        }
        d->cv.notify_all();
    }
}

void SpeechEngine::playerLoop(std::shared_ptr<Shared> d) {
    runAsBatchThread();
    std::unique_lock lock(d->m);
    d->cv.wait(lock, [&d] { return d->shutdown || d->started; });
    const int rate = d->sampleRate;
    AudioSink &sink = *d->sink;
    const std::size_t chunkSamples =
        std::max<std::size_t>(1, static_cast<std::size_t>(rate) * kChunkMilliseconds / 1000);

    bool sinkOpen = false;
    Clock::time_point nextAttempt = Clock::now();
    Clock::time_point lastSound = Clock::now();
    std::uint64_t current = 0;   // utterance being played
    std::uint64_t seenLiveFrom = d->liveFrom; // the last cut-off the player acted on
    bool begunInSink = false;    // the sink was told that `current` began
    bool held = false;           // the sink was held for the present pause
    bool clockRunning = false;   // pacing of sinks that do not pace themselves
    Clock::time_point clockStart;
    std::uint64_t clockSamples = 0;

    const auto tryOpen = [&] {
        lock.unlock();
        const bool ok = sink.open(rate);
        lock.lock();
        sinkOpen = ok;
        if (!ok)
            nextAttempt = Clock::now() + kRetryInterval;
        begunInSink = false;
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
        held = false;

        if (d->audio.empty()) {
            clockRunning = false;
            if (sinkOpen && current == 0 && sink.closeWhenIdle()) {
                if (Clock::now() - lastSound >= kIdleClose) {
                    lock.unlock();
                    sink.close();
                    lock.lock();
                    sinkOpen = false;
                    nextAttempt = Clock::now();
                    continue;
                }
                d->cv.wait_until(lock, lastSound + kIdleClose);
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

        if (!sinkOpen && rate > 0 && Clock::now() >= nextAttempt) {
            tryOpen();
            continue; // the state may have changed meanwhile
        }

        if (sinkOpen && !sink.pacesItself()) {
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
        }

        // Take the next piece of at most one chunk.
        const std::uint64_t id = front.id;
        const std::size_t count = sinkOpen ? std::min(chunkSamples, front.samples.size() - front.offset)
                                           : front.samples.size() - front.offset;
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
        begunInSink = true;
        const auto firstSample = first ? d->observer.firstSample : nullptr;
        lock.unlock();
        if (first)
            sink.beginUtterance();
        const bool ok = sink.write(piece.data(), piece.size());
        const Clock::time_point written = Clock::now();
        if (first && firstSample)
            firstSample(id, written);
        if (!ok)
            sink.close();
        lock.lock();
        lastSound = written;
        clockSamples += count;
        if (!ok) {
            sinkOpen = false;
            begunInSink = false;
            nextAttempt = Clock::now() + kRetryInterval;
        }
    }

    const bool tell = sinkOpen && begunInSink;
    d->playing = 0;
    lock.unlock();
    if (tell)
        sink.endUtterance(true);
    sink.close();
    lock.lock();
    d->playerDone = true;
    lock.unlock();
    d->cv.notify_all();
}

} // namespace lesemund::speech
