// The speech engine with sinks of the test's own: a sink that never returns,
// a device that keeps unheard samples, an output that cannot be opened.
#include "speechtesting.h"

#include "speech/speechengine.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;
using lesemund::speech::AudioSink;
using lesemund::speech::SpeechEngine;
using lesemund::testing::waitFor;

namespace {

const QString kMedium = QString::fromUtf8(
    "Dies ist ein etwas längerer Satz, damit Pause, Weiter und Stopp deutlich zu hören sind.");

// What a sink saw, shared with the test (the sink itself belongs to the engine).
struct SinkRecord {
    std::mutex m;
    std::vector<std::string> events;           // "open", "begin", "end", "cut", "hold", "close"
    std::vector<std::vector<int16_t>> writes;  // every write, in order
    std::atomic<int> opens = 0;
    std::atomic<int> writeCount = 0;
    std::atomic<bool> release = false;         // lets a blocking sink return
    std::vector<int16_t> heldBack;             // what the last hold() gave back

    void event(const std::string &what) {
        std::lock_guard lock(m);
        events.push_back(what);
    }
    std::vector<std::string> eventsCopy() {
        std::lock_guard lock(m);
        return events;
    }
};

// A device that plays ten times faster than real time and, when held, gives
// back the last `unheard` samples it was handed.
class FakeDevice : public AudioSink {
public:
    FakeDevice(std::shared_ptr<SinkRecord> record, std::size_t unheard = 0)
        : record_(std::move(record)), unheard_(unheard) {}
    bool open(int rate) override {
        rate_ = rate;
        ++record_->opens;
        record_->event("open");
        return open_ = true;
    }
    bool isOpen() const override { return open_; }
    void close() override {
        open_ = false;
        record_->event("close");
    }
    void beginUtterance() override {
        recent_.clear();
        record_->event("begin");
    }
    bool write(const int16_t *samples, std::size_t count) override {
        {
            std::lock_guard lock(record_->m);
            record_->writes.emplace_back(samples, samples + count);
        }
        ++record_->writeCount;
        recent_.insert(recent_.end(), samples, samples + count);
        std::this_thread::sleep_for(std::chrono::microseconds(count * 100000 / rate_));
        return true;
    }
    void endUtterance(bool cutOff) override { record_->event(cutOff ? "cut" : "end"); }
    void silence() override { record_->event("silence"); }
    std::vector<int16_t> hold() override {
        record_->event("hold");
        const std::size_t n = std::min(unheard_, recent_.size());
        std::vector<int16_t> back(recent_.end() - std::ptrdiff_t(n), recent_.end());
        recent_.resize(recent_.size() - n);
        std::lock_guard lock(record_->m);
        record_->writes.push_back({}); // marks the hold in the write sequence
        record_->heldBack = back;
        record_->events.push_back("held:" + std::to_string(back.size()));
        return back;
    }
    bool pacesItself() const override { return true; }

private:
    std::shared_ptr<SinkRecord> record_;
    std::size_t unheard_;
    int rate_ = 22050;
    bool open_ = false;
    std::vector<int16_t> recent_;
};

// A device whose write never returns until the test lets it.
class StuckDevice : public AudioSink {
public:
    explicit StuckDevice(std::shared_ptr<SinkRecord> record) : record_(std::move(record)) {}
    bool open(int) override { return open_ = true; }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    bool write(const int16_t *, std::size_t) override {
        ++record_->writeCount;
        while (!record_->release)
            std::this_thread::sleep_for(5ms);
        return true;
    }
    bool pacesItself() const override { return true; }

private:
    std::shared_ptr<SinkRecord> record_;
    bool open_ = false;
};

// An output that cannot be opened, or breaks at its first write.
class BrokenDevice : public AudioSink {
public:
    BrokenDevice(std::shared_ptr<SinkRecord> record, bool opens) : record_(std::move(record)), opens_(opens) {}
    bool open(int) override {
        ++record_->opens;
        return open_ = opens_;
    }
    bool isOpen() const override { return open_; }
    void close() override {
        open_ = false;
        record_->event("close");
    }
    bool write(const int16_t *, std::size_t) override {
        ++record_->writeCount;
        return false;
    }
    bool pacesItself() const override { return true; }

private:
    std::shared_ptr<SinkRecord> record_;
    bool opens_;
    bool open_ = false;
};

} // namespace

TEST(SpeechEngine, ASinkThatNeverReturnsHoldsUpNeitherCommandsNorDestruction) {
    auto record = std::make_shared<SinkRecord>();
    auto engine = std::make_unique<SpeechEngine>(std::make_unique<StuckDevice>(record));
    engine->speakNow("Hallo Welt");
    ASSERT_TRUE(waitFor([&] { return record->writeCount > 0; }, 5s));

    auto start = std::chrono::steady_clock::now();
    engine->speakNow(kMedium);
    engine->enqueue("Noch etwas");
    engine->pause();
    engine->resume();
    engine->stop();
    engine->repeat();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20ms);

    start = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    record->release = true; // the player that was let go ends now
}

TEST(SpeechEngine, PauseGivesBackUnheardSamplesAndPlaysThemFirstOnResume) {
    auto record = std::make_shared<SinkRecord>();
    SpeechEngine engine(std::make_unique<FakeDevice>(record, 500));
    engine.speakNow(kMedium);
    ASSERT_TRUE(waitFor([&] { return record->writeCount >= 5; }, 5s));
    engine.pause();
    ASSERT_TRUE(waitFor([&] {
        const auto events = record->eventsCopy();
        return std::find(events.begin(), events.end(), "held:500") != events.end();
    }, 2s));
    const int writesWhilePaused = record->writeCount;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(record->writeCount, writesWhilePaused) << "written while paused";

    engine.resume();
    ASSERT_TRUE(engine.waitUntilIdle(10s));
    std::lock_guard lock(record->m);
    const auto hold = std::find_if(record->writes.begin(), record->writes.end(),
                                   [](const auto &w) { return w.empty(); });
    ASSERT_NE(hold, record->writes.end());
    std::vector<int16_t> replayed;
    for (auto it = hold + 1; it != record->writes.end() && replayed.size() < 500; ++it)
        replayed.insert(replayed.end(), it->begin(), it->end());
    replayed.resize(std::min<std::size_t>(replayed.size(), 500));
    EXPECT_EQ(replayed, record->heldBack) << "the unheard samples were not played first";
    EXPECT_EQ(std::count(record->events.begin(), record->events.end(), "begin"), 1);
    EXPECT_EQ(record->events.back(), "end");
}

TEST(SpeechEngine, CuttingOffTellsTheSinkAndTheNextUtteranceBeginsAnew) {
    auto record = std::make_shared<SinkRecord>();
    SpeechEngine engine(std::make_unique<FakeDevice>(record));
    engine.speakNow(kMedium);
    ASSERT_TRUE(waitFor([&] { return record->writeCount >= 3; }, 5s));
    engine.speakNow("Kurz");
    engine.enqueue("Danach");
    ASSERT_TRUE(engine.waitUntilIdle(10s));
    EXPECT_EQ(record->eventsCopy(),
              (std::vector<std::string>{"open", "begin", "cut", "begin", "end", "begin", "end"}));

    // Stop after the last samples were handed over: what the device still
    // holds is dropped.
    engine.stop();
    EXPECT_TRUE(waitFor([&] { return record->eventsCopy().back() == "silence"; }, 2s));
}

TEST(SpeechEngine, ObserverSeesTheFirstSampleOfEachUtterance) {
    auto record = std::make_shared<SinkRecord>();
    lesemund::testing::EngineLog log;
    SpeechEngine engine(std::make_unique<FakeDevice>(record));
    engine.setObserver(log.observer());
    engine.enqueue("Eins");
    engine.enqueue("Zwei");
    ASSERT_TRUE(engine.waitUntilIdle(10s));
    EXPECT_EQ(log.firstSamples(), 2);
    ASSERT_EQ(log.started().size(), 2u);
    EXPECT_LT(log.started()[0].id, log.started()[1].id);
}

TEST(SpeechEngine, WithoutAnOutputSpeechIsDroppedAndOpeningIsNotRetriedAtOnce) {
    auto record = std::make_shared<SinkRecord>();
    SpeechEngine engine(std::make_unique<BrokenDevice>(record, false));
    for (int i = 0; i < 5; ++i) {
        engine.speakNow("Hallo");
        ASSERT_TRUE(engine.waitUntilIdle(3s));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(record->opens, 1) << "the output was tried again within a second";
    EXPECT_EQ(record->writeCount, 0);
}

TEST(SpeechEngine, AnOutputThatBreaksIsClosedAndLeftAlone) {
    auto record = std::make_shared<SinkRecord>();
    SpeechEngine engine(std::make_unique<BrokenDevice>(record, true));
    engine.speakNow("Hallo Welt");
    ASSERT_TRUE(engine.waitUntilIdle(3s));
    engine.speakNow("Noch einmal");
    ASSERT_TRUE(engine.waitUntilIdle(3s));
    EXPECT_EQ(record->writeCount, 1);
    EXPECT_EQ(record->opens, 1);
    const auto events = record->eventsCopy();
    EXPECT_EQ(std::count(events.begin(), events.end(), "close"), 1);
}

// espeak-ng is loaded once per process, so this runs in a fresh one.
TEST(SpeechEngineDeathTest, MissingVoiceDataLeavesTheProgramRunningAndSilent) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir emptyData;
    ASSERT_TRUE(emptyData.isValid());
    EXPECT_EXIT(
        {
            qputenv("ESPEAK_DATA_PATH", QFile::encodeName(emptyData.path()));
            auto record = std::make_shared<SinkRecord>();
            bool idle = false;
            {
                SpeechEngine engine(std::make_unique<FakeDevice>(record));
                engine.speakNow("Hallo");
                engine.enqueue("Welt");
                engine.repeat();
                idle = engine.waitUntilIdle(5s);
            }
            std::exit(idle && record->writeCount == 0 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
