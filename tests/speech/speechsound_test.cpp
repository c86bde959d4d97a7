// The speech page with data-output="sound" on a private PulseAudio server,
// heard at the server's null sink: speech, pause and Weiter, Stop, a new text
// cutting the old one, and the server going away and coming (back).
#include "speechtesting.h"

#include "platform/speechpagehost.h"
#include "speech/espeak.h"
#include "speech/speechengine.h"
#include "support/pulseserver.h"
#include "support/tempdatafolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace std::chrono_literals;
using namespace lesemund::testing;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const QString kShort = "Guten Tag";
const QString kMedium = QString::fromUtf8("Ein längerer Satz für Pause und Weiter.");
const QString kLong = QString::fromUtf8("Dies ist ein recht langer Satz, der nie zu Ende gesprochen wird, weil ihn etwas abbricht.");

milliseconds referenceTime(const QString &text) {
    return MonitorRecorder::audibleTime(lesemund::speech::Espeak::instance().render(text), 22050);
}

// The same speech, heard: within the variation of espeak-ng and the 10 ms
// windows of the measure.
void expectAbout(milliseconds heard, milliseconds reference) {
    EXPECT_NEAR(double(heard.count()), double(reference.count()), 0.12 * double(reference.count()) + 40);
}

class SpeechSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        server.exportAddress();
        ASSERT_TRUE(recorder.start(server.address(), server.monitorName(), &error)) << error.toStdString();
        folder.write("sp", "<html><body><form data-output=\"sound\"><input type=button name=user1>"
                           "<input type=button name=pause><input type=button name=Weiter>"
                           "<input type=button name=Stop></form></body></html>");
    }
    void load() {
        host = std::make_unique<lesemund::platform::SpeechPageHost>();
        host->navigate(folder.path("sp"));
        ASSERT_TRUE(host->isLoaded());
    }
    // Clicks and returns when; the click itself never waits for the sound.
    Clock::time_point click(const QString &name, const QString &text = {}) {
        if (!text.isEmpty())
            folder.write("text.txt", text.toLatin1());
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(host->clickButton(name));
        EXPECT_LT(Clock::now() - start, 100ms) << name.toStdString() << " held up the caller";
        return start;
    }
    bool idle(milliseconds timeout = 10s) { return host->engine()->waitUntilIdle(timeout); }
    // Waits until the speech died away at the server (the engine is idle
    // once the sink has the last samples): nothing heard for 200 ms.
    Clock::time_point silentNow() {
        const auto end = Clock::now() + 5s;
        while (Clock::now() < end) {
            const Clock::time_point now = Clock::now();
            EXPECT_TRUE(recorder.waitRecorded(now, 3s));
            if (recorder.audibleTime(now - 200ms, now) == 0ms)
                return now;
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "the sound never ended";
        return Clock::now();
    }
    bool restartServer() {
        recorder.stop();
        QString error;
        return server.start(&error) && recorder.start(server.address(), server.monitorName(), &error);
    }

    PulseServer server;
    MonitorRecorder recorder;
    TempDataFolder folder;
    std::unique_ptr<lesemund::platform::SpeechPageHost> host;
};

} // namespace

TEST_F(SpeechSoundTest, HeardPausedContinuedStoppedAndCutOff) {
    const milliseconds shortTime = referenceTime(kShort), mediumTime = referenceTime(kMedium);
    load();

    // An utterance is heard, about as long as it is.
    Clock::time_point t = click("user1", kShort);
    ASSERT_TRUE(recorder.waitAudible(t, 3s)) << "nothing heard";
    ASSERT_TRUE(idle());
    expectAbout(recorder.audibleTime(t, silentNow()), shortTime);

    // Pause goes silent; Weiter goes on where it stopped: nothing lost,
    // nothing said twice.
    t = click("user1", kMedium);
    ASSERT_TRUE(recorder.waitAudible(t, 3s));
    std::this_thread::sleep_for(500ms);
    const Clock::time_point paused = click("pause");
    std::this_thread::sleep_for(400ms);
    const Clock::time_point resumed = click("Weiter");
    ASSERT_TRUE(idle());
    const Clock::time_point end = silentNow();
    EXPECT_EQ(recorder.audibleTime(paused + 150ms, resumed), 0ms) << "heard while paused";
    const auto again = recorder.firstAudible(resumed);
    ASSERT_TRUE(again) << "nothing heard after Weiter";
    EXPECT_LT(*again - resumed, 300ms);
    expectAbout(recorder.audibleTime(t, end), mediumTime);

    // Stop cuts the speech off.
    t = click("user1", kLong);
    ASSERT_TRUE(recorder.waitAudible(t, 3s));
    std::this_thread::sleep_for(300ms);
    const Clock::time_point stopped = click("Stop");
    ASSERT_TRUE(idle(1s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.audibleTime(stopped + 150ms, silentNow()), 0ms) << "heard after Stop";

    // user1 cuts the old text off: only the new one is heard after it.
    t = click("user1", kLong);
    ASSERT_TRUE(recorder.waitAudible(t, 3s));
    std::this_thread::sleep_for(300ms);
    const Clock::time_point cut = click("user1", kShort);
    ASSERT_TRUE(idle());
    const milliseconds after = recorder.audibleTime(cut + 150ms, silentNow());
    EXPECT_LT(after, shortTime) << "the old text went on";
    EXPECT_GT(after, shortTime - 250ms) << "the new text was not heard";
}

TEST_F(SpeechSoundTest, HeardAfterTheServerRestartedAndWhenItCameAfterTheProgram) {
    const milliseconds shortTime = referenceTime(kShort);
    load();
    Clock::time_point t = click("user1", kShort);
    ASSERT_TRUE(recorder.waitAudible(t, 3s));
    ASSERT_TRUE(idle());

    // Killed and started again: the next announcement is heard, whole.
    server.kill();
    ASSERT_TRUE(restartServer());
    t = click("user1", kShort);
    EXPECT_TRUE(recorder.waitAudible(t, 2s)) << "the first announcement after the restart was lost";
    ASSERT_TRUE(idle());
    expectAbout(recorder.audibleTime(t, silentNow()), shortTime);

    // The program starts, and announces, before the server is there.
    host.reset();
    server.stop();
    load();
    t = click("user1", kShort);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(restartServer());
    EXPECT_TRUE(recorder.waitAudible(t, 3s)) << "the announcement made before the server came was lost";
    ASSERT_TRUE(idle());
    EXPECT_GT(recorder.audibleTime(t, silentNow()), shortTime / 2);
}

// espeak-ng is loaded once per process, so this runs in a fresh one: loading
// it and speaking makes one stream on the server, the program's own.
TEST_F(SpeechSoundTest, EspeakNgOpensNoStreamOfItsOwn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            load();
            const Clock::time_point t = click("user1", kShort);
            const bool heard = recorder.waitAudible(t, 3s).has_value() && idle();
            std::this_thread::sleep_for(100ms);
            std::fprintf(stderr, "heard %d, streams %d\n", int(heard), recorder.streamsMade());
            std::exit(heard && recorder.streamsMade() == 1 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
