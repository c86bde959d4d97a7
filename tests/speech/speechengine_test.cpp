// The speech engine with an output of the test's own that never returns,
// is not there yet, or breaks down.
#include "speechtesting.h"

#include "speech/espeak.h"
#include "speech/speechengine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;
using lesemund::speech::SpeechEngine;

namespace {

// What the output saw, shared with the test (the output belongs to the engine).
struct OutputRecord {
    std::atomic<int> failOpens = 0;  // this many opens fail; -1: all of them
    std::atomic<int> failWrites = 0; // this many writes fail, each breaking the connection
    std::atomic<bool> stuck = false; // writes do not return until released
    std::atomic<int> opens = 0, writes = 0, closes = 0;
    std::atomic<long> samples = 0;   // written successfully
};

class TestOutput : public lesemund::speech::AudioSink {
public:
    explicit TestOutput(std::shared_ptr<OutputRecord> record) : r_(std::move(record)) {}
    bool open(int) override {
        ++r_->opens;
        if (r_->failOpens != 0) {
            if (r_->failOpens > 0)
                --r_->failOpens;
            return open_ = false;
        }
        return open_ = true;
    }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false, ++r_->closes; }
    bool pacesItself() const override { return true; }
    std::size_t room() const override { return 4096; }
    bool write(const int16_t *, std::size_t count) override {
        ++r_->writes;
        while (r_->stuck)
            std::this_thread::sleep_for(5ms);
        if (r_->failWrites > 0) {
            --r_->failWrites;
            return open_ = false;
        }
        r_->samples += long(count);
        return true;
    }

private:
    std::shared_ptr<OutputRecord> r_;
    bool open_ = false;
};

} // namespace

TEST(SpeechEngine, AnOutputThatNeverReturnsHoldsUpNeitherCommandsNorDestruction) {
    auto record = std::make_shared<OutputRecord>();
    record->stuck = true;
    auto engine = std::make_unique<SpeechEngine>(std::make_unique<TestOutput>(record));
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
    record->stuck = false; // the player that was let go ends now
}

// A sound server that is not there yet, went away or restarts: the speech is
// never dropped for a fixed time; every utterance tries the output at once,
// a broken connection is replaced at once, and speech waits a short while
// for an output that is coming.
TEST(SpeechEngine, AnOutputThatFailsIsTriedAgainAtOnceAndNoSpeechIsLost) {
    const QString text = "Hallo Welt, wie geht es dir?";
    const long full = long(lesemund::speech::Espeak::instance().render(text).size());
    const struct {
        const char *what;
        int failOpens, failWrites;
        int opens; // at most
    } cases[] = {
        {"the server comes up a little after the program", 3, 0, 4},
        {"the connection broke down while idle", 0, 1, 2},
        {"the server restarts while speaking", 0, 3, 6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto record = std::make_shared<OutputRecord>();
        record->failOpens = c.failOpens;
        record->failWrites = c.failWrites;
        SpeechEngine engine(std::make_unique<TestOutput>(record));
        engine.speakNow(text);
        ASSERT_TRUE(engine.waitUntilIdle(3s));
        EXPECT_LE(record->opens, c.opens);
        // Leading silence is not played; everything else is, once.
        EXPECT_NEAR(double(record->samples), double(full), 0.05 * double(full));
    }

    // No server at all: the first utterance waits a while, then the speech
    // goes nowhere, and each later one tries once more at once.
    auto record = std::make_shared<OutputRecord>();
    record->failOpens = -1;
    SpeechEngine engine(std::make_unique<TestOutput>(record));
    engine.speakNow(text);
    ASSERT_TRUE(engine.waitUntilIdle(4s));
    for (int i = 0; i < 3; ++i) {
        const int opens = record->opens;
        const auto start = std::chrono::steady_clock::now();
        engine.speakNow(text);
        ASSERT_TRUE(engine.waitUntilIdle(2s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "waited again for the absent output";
        EXPECT_EQ(record->opens, opens + 1);
    }
    EXPECT_EQ(record->samples, 0);
}
