// The speech engine with an output of the test's own that never returns,
// cannot be opened, or breaks at its first write.
#include "speechtesting.h"

#include "speech/speechengine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;
using lesemund::speech::SpeechEngine;

namespace {

enum class Fault { Stuck, WontOpen, BreaksOnWrite };

// What the output saw, shared with the test (the output belongs to the engine).
struct OutputRecord {
    std::atomic<int> opens = 0, writes = 0, closes = 0;
    std::atomic<bool> release = false; // lets a stuck write return
};

class FaultyOutput : public lesemund::speech::AudioSink {
public:
    FaultyOutput(std::shared_ptr<OutputRecord> record, Fault fault) : r_(std::move(record)), fault_(fault) {}
    bool open(int) override { return ++r_->opens, open_ = fault_ != Fault::WontOpen; }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false, ++r_->closes; }
    bool pacesItself() const override { return true; }
    bool write(const int16_t *, std::size_t) override {
        ++r_->writes;
        while (fault_ == Fault::Stuck && !r_->release)
            std::this_thread::sleep_for(5ms);
        return fault_ != Fault::BreaksOnWrite;
    }

private:
    std::shared_ptr<OutputRecord> r_;
    Fault fault_;
    bool open_ = false;
};

} // namespace

TEST(SpeechEngine, AnOutputThatNeverReturnsHoldsUpNeitherCommandsNorDestruction) {
    auto record = std::make_shared<OutputRecord>();
    auto engine = std::make_unique<SpeechEngine>(std::make_unique<FaultyOutput>(record, Fault::Stuck));
    engine->speakNow("Hallo Welt");
    ASSERT_TRUE(lesemund::testing::waitFor([&] { return record->writes > 0; }, 5s));

    auto start = std::chrono::steady_clock::now();
    engine->speakNow("Ein zweiter, etwas längerer Satz");
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

TEST(SpeechEngine, AnOutputThatFailsDropsTheSpeechAndIsNotRetriedAtOnce) {
    for (const auto &[fault, writes] : {std::pair{Fault::WontOpen, 0}, std::pair{Fault::BreaksOnWrite, 1}}) {
        SCOPED_TRACE(int(fault));
        auto record = std::make_shared<OutputRecord>();
        SpeechEngine engine(std::make_unique<FaultyOutput>(record, fault));
        for (int i = 0; i < 3; ++i) {
            engine.speakNow("Hallo");
            ASSERT_TRUE(engine.waitUntilIdle(3s));
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(record->opens, 1) << "the output was tried again within a second";
        EXPECT_EQ(record->writes, writes);
        if (fault == Fault::BreaksOnWrite) {
            EXPECT_EQ(record->closes, 1) << "a broken output is closed";
        }
    }
}
