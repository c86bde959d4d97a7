// The speech page on real espeak-ng, in a copied data folder: heard at a
// private PulseAudio's null sink, or through its WAV output.
#include "speech/speechpagehost.h"
#include "speech/espeak.h"
#include "speech/speechengine.h"
#include "support/pulseserver.h"
#include "support/speechdispatcherserver.h"
#include "support/tempdatafolder.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <condition_variable>
#include <ctime>
#include <future>
#include <numeric>
#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace lesemund::testing;
using Time = MonitorRecorder::Time;
using Voice = lesemund::speech::VoiceSettings;
#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // voices are written by their designated fields

namespace {

const QStringList kButtons = {"user1", "user2", "fenster1", "Hilfe", "Sprech", "pause", "Weiter", "Stop", "Nochmal"};
const QString kShort = "Guten Tag", kShort2 = "Auf Wiedersehen, bis morgen.";
const QString kMedium = "Ein längerer Satz für Pause und Weiter.";
const QString kLong = "Dies ist ein recht langer Satz, der nie zu Ende gesprochen wird, weil ihn etwas abbricht.";

std::vector<int16_t> render(const QString &text) { return lesemund::speech::Espeak::instance().render(text); }

// How many samples the WAV output holds of `text`: espeak-ng's from the first audible one on.
qsizetype samples(const QString &text) {
    const std::vector<int16_t> pcm = render(text);
    return pcm.end() - std::find_if(pcm.begin(), pcm.end(), [](int16_t v) { return std::abs(v) > 64; });
}

// The median fundamental frequency (Hz) of the voiced 40 ms frames of `pcm` at `rate`, from its rectified
// samples (the recorder keeps levels only): the shortest period whose autocorrelation comes near the best.
double pitchOf(const std::vector<int16_t> &pcm, int rate) {
    std::vector<double> f0, x, c;
    const int frame = rate / 25, lo = rate / 400, hi = rate / 70;
    for (std::size_t s = 0; s + frame + hi < pcm.size(); s += frame) {
        x.assign(pcm.begin() + s, pcm.begin() + s + frame + hi);
        std::transform(x.begin(), x.end(), x.begin(), [](double v) { return std::abs(v); });
        const double mean = std::accumulate(x.begin(), x.end(), 0.0) / x.size();
        if (mean < 300)
            continue;
        c.assign(hi + 1, 0);
        for (int l = lo; l <= hi; ++l)
            for (int i = 0; i < frame; ++i)
                c[l] += (x[i] - mean) * (x[i + l] - mean);
        const double best = *std::max_element(c.begin(), c.end());
        f0.push_back(double(rate) / (std::find_if(c.begin() + lo, c.end(), [&](double v) { return v >= 0.85 * best; }) - c.begin()));
    }
    std::sort(f0.begin(), f0.end());
    return f0.empty() ? 0 : f0[f0.size() / 2];
}

// A speech page of the test's own, whose clicks never wait for the speech.
struct Page {
    explicit Page(const QString &form, lesemund::platform::DesktopSpeechFactory desktop = {}) : host(desktop) {
        folder.write("sp", ("<form " + form + "><input type=button name=" + kButtons.join("><input type=button name="))
                               .toUtf8());
    }
    void load() { host.navigate(folder.path("sp")); }
    Time click(const QString &name, const QString &text = {}) {
        if (!text.isNull())
            folder.write("text.txt", text.toLatin1());
        const Time t = Time::clock::now();
        EXPECT_TRUE(host.clickButton(name)) << name.toStdString();
        EXPECT_LT(Time::clock::now() - t, 100ms) << name.toStdString() << " held up the caller";
        return t;
    }
    bool idle(std::chrono::milliseconds wait = 10s) { return host.engine() && host.engine()->waitUntilIdle(wait); }
    QByteArray wav(int i) const { // the i-th WAV file
        const QStringList names = QDir(folder.path("wav")).entryList({"*.wav"}, QDir::Files, QDir::Name);
        return i < names.size() ? folder.read("wav/" + names[i]) : QByteArray();
    }

    TempDataFolder folder;
    lesemund::speech::SpeechPageHost host;
};

} // namespace

TEST(SpeechSound, HeardPausedResumedStoppedCutOffAndAfterTheServerCameBack) {
    PulseServer server;
    MonitorRecorder recorder;
    const auto start = [&] { return server.start() && recorder.start(server.address(), server.monitorName()); };
    ASSERT_TRUE(start());
    server.exportAddress();
    Page p("data-output=sound");
    p.load();
    const auto heard = [&](Time from) { // until the speech had died away
        EXPECT_TRUE(p.idle());
        const Time end = Time::clock::now() + 400ms;
        return recorder.waitRecorded(end, 3s) ? recorder.audibleTime(from, end).count() : -1;
    };
    // As long as espeak-ng says it, within its variation and the 10 ms windows.
    const auto spoken = [](const QString &text) { return MonitorRecorder::audibleTime(render(text), 22050).count(); };
    // Heard; silent and idle while paused; Weiter goes on at once: nothing lost, nothing said twice.
    Time t = p.click("user1", kMedium);
    ASSERT_TRUE(recorder.waitAudible(t + 500ms, 3s));
    const Time paused = p.click("pause");
    const std::clock_t processor = std::clock();
    std::this_thread::sleep_for(400ms);
    EXPECT_LT(std::clock() - processor, CLOCKS_PER_SEC / 20) << "busy while paused";
    const Time resumed = p.click("Weiter");
    EXPECT_NEAR(heard(t), spoken(kMedium), spoken(kMedium) / 8 + 40);
    EXPECT_EQ(recorder.audibleTime(paused + 150ms, resumed - 30ms), 0ms) << "heard while paused";
    const auto again = recorder.firstAudible(resumed);
    EXPECT_TRUE(again && *again - resumed < 300ms) << "Weiter was not heard at once";

    // Stop silences the speech; user1 cuts it off: only the new text is heard after it.
    for (const QString cutter : {"Stop", "user1"}) {
        ASSERT_TRUE(recorder.waitAudible(p.click("user1", kLong) + 300ms, 3s));
        const auto after = heard(p.click(cutter, kShort) + 150ms);
        EXPECT_TRUE(cutter == "Stop" ? after == 0 : after < spoken(kShort) && after > spoken(kShort) - 250)
            << cutter.toStdString() << " " << after;
    }

    // The server ends the stream but keeps the connection: the next text is heard whole.
    ASSERT_TRUE(recorder.waitAudible(p.click("user1", kLong) + 300ms, 3s));
    QProcess::execute("sh", {"-c", "pactl list short sink-inputs | cut -f1 | xargs -rn1 pactl kill-sink-input"});
    t = p.click("user1", kShort);
    EXPECT_NEAR(heard(t), spoken(kShort), spoken(kShort) / 8 + 40) << "no new stream after the old one was ended";

    server.kill(); // as a crash would; the next announcement is heard whole
    ASSERT_TRUE(start());
    t = p.click("user1", kShort);
    EXPECT_TRUE(recorder.waitAudible(t, 2s)) << "the first announcement after the restart was lost";
    EXPECT_NEAR(heard(t), spoken(kShort), spoken(kShort) / 8 + 40);
    server.stop(); // no server at all: the speech waits a little, then goes nowhere
    p.click("user1", kShort);
    EXPECT_TRUE(p.idle(4s)) << "waited on for the missing server";
    p.load(); // the program starts and speaks before the server is there
    t = p.click("user1", kShort);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(start());
    EXPECT_TRUE(recorder.waitAudible(t, 3s)) << "the announcement made before the server came was lost";
}

// espeak-ng is loaded once per process, hence a fresh one, with its data but not the phoneme table: the program
// runs on, silent, and neither it nor espeak-ng's own sound output makes a stream on the server.
TEST(SpeechSoundDeathTest, DamagedVoiceDataLeavesTheProgramRunningSilentAndMakesNoStream) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QProcess espeak; // before the server is there: espeak-ng's own program opens a stream
    espeak.start("espeak-ng", {"--version"});
    ASSERT_TRUE(espeak.waitForFinished());
    PulseServer server;
    ASSERT_TRUE(server.start());
    server.exportAddress();
    Page p("data-output=sound");
    const QDir data(QString(espeak.readAll()).section("Data at: ", 1).trimmed());
    ASSERT_TRUE(data.exists("phontab") && QDir().mkdir(p.folder.path("espeak")));
    for (const QString &name : data.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        ASSERT_TRUE(name == "phontab" || QFile::link(data.filePath(name), p.folder.path("espeak/" + name)));
    EXPECT_EXIT({
        qputenv("ESPEAK_DATA_PATH", QFile::encodeName(p.folder.path("espeak")));
        p.load();
        p.click("user1", kShort);
        std::exit(p.idle() && server.log().count("Created input") == 0 ? 0 : 3);
    }, ::testing::ExitedWithCode(0), "");
}

TEST(SpeechPage, NoPageOrAnUnreadableOneLoadsNothingAndNeverHangs) {
    TempDataFolder folder;
    const QByteArray binary = QByteArray(32 * 1024, '\0') + QByteArray(32 * 1024, '\xfe');
    folder.write("binaer", binary);
    folder.write("gemischt", binary + "<form data-output=none><input type=button name=Stop>" + binary);
    ASSERT_EQ(mkfifo(QFile::encodeName(folder.path("fifo")).constData(), 0600), 0);
    lesemund::speech::SpeechPageHost host;
    const auto start = std::chrono::steady_clock::now();
    for (const QString &path : {folder.path("gibtsnicht"), folder.path("binaer"), folder.dataFolder(),
                                folder.path("fifo"), QString("/dev/zero"), QString()}) {
        host.navigate("file://" + folder.path("gemischt")); // a form amid garbage is found; only its buttons count
        EXPECT_TRUE(host.clickButton("Stop") && !host.clickButton("pause"));
        host.navigate(path);
        EXPECT_FALSE(host.isLoaded() || host.clickButton("Stop")) << path.toStdString();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(SpeechPage, ButtonsSpeakTheirFilesStopCutOffQueueRepeatAndAreJournaled) {
    Page p("data-output=wav:wav data-journal=journal.txt");
    p.load();
    const QDateTime before = QDateTime::currentDateTime();
    p.click("pause", kMedium); // nothing to hold yet
    p.click("Nochmal");        // nothing to repeat yet
    EXPECT_FALSE(p.host.engine()->isPaused() || p.host.clickButton("USER1"));
    p.click("user1");
    p.click("user2", kShort2);
    ASSERT_TRUE(waitFor([&] { return p.wav(0).size() > 22050; }, 5s));
    p.click("Stop"); // and the queue is empty
    ASSERT_TRUE(p.idle(1s));
    p.click("Nochmal"); // the text heard last
    ASSERT_TRUE(waitFor([&] { return p.wav(1).size() > 22050; }, 5s));
    p.click("user1", kShort);  // cuts it off
    p.click("user2", kShort2); // after it
    ASSERT_TRUE(p.idle());
    p.click("Nochmal", "nie geklickt"); // the text as it was clicked
    ASSERT_TRUE(p.idle());
    p.folder.write("fenster.txt", "#voice=name:qvx.de.tonra#Fenster");
    p.folder.write("hilfe.txt", "Hilfe");
    p.folder.write("text.txt", "\xC4pfel \x80\r\n"); // Windows-1252
    for (const QString name : {"fenster1", "Hilfe", "Sprech", "user1"}) {
        p.click(name);
        ASSERT_TRUE(p.idle());
    }
    QFile::remove(p.folder.path("text.txt"));
    p.click("user1"); // a missing speech file: journaled, not spoken
    ASSERT_TRUE(p.idle());

    EXPECT_LT(p.wav(1).size() / 2, samples(kMedium) / 2) << "user1 did not cut off";
    const QString heard[] = {kShort, kShort2, kShort2, "Fenster", "Fenster", "Hilfe", "Äpfel €\r\n"};
    for (int i = 0; i < 7; ++i) // within espeak-ng's variation
        EXPECT_NEAR(p.wav(i + 2).size() / 2 - 22, samples(heard[i]), samples(heard[i]) / 25) << heard[i].toStdString();
    EXPECT_TRUE(p.wav(9).isEmpty()) << "spoke the queued text after Stop, or a missing file";
    const QByteArray wav = p.wav(3); // without the leading silence; its header gives its length
    EXPECT_GT(std::abs(qFromLittleEndian<qint16>(wav.constData() + 44)), 64) << "began with silence";
    QByteArray header = QByteArray::fromHex("52494646000000005741564566" "6d7420100000000100010022560000"
                                            "44ac00000200100064617461" "00000000");
    qToLittleEndian<quint32>(quint32(wav.size() - 8), header.data() + 4);
    qToLittleEndian<quint32>(quint32(wav.size() - 44), header.data() + 40);
    EXPECT_EQ(wav.left(44).toHex(), header.toHex());

    QStringList lines = QString::fromUtf8(p.folder.read("journal.txt")).split('\n', Qt::SkipEmptyParts);
    const QDateTime stamped = QDateTime::fromString(lines.value(0).left(23), "yyyy-MM-ddTHH:mm:ss.zzz");
    EXPECT_TRUE(stamped.isValid() && std::abs(before.msecsTo(stamped)) < 2000) << lines.value(0).toStdString();
    EXPECT_EQ(lines.replaceInStrings(QRegularExpression("^.{23}"), "").join('\n').toStdString(),
              QStringList({"\tpause\t", "\tNochmal\t", "\tuser1\t" + kMedium, "\tuser2\t" + kShort2, "\tStop\t",
                           "\tNochmal\t", "\tuser1\t" + kShort, "\tuser2\t" + kShort2, "\tNochmal\t",
                           "\tfenster1\t#voice=name:qvx.de.tonra#Fenster", "\tHilfe\t#voice=name:qvx.de.tonra#Fenster",
                           "\tSprech\tHilfe", "\tuser1\tÄpfel €\\r\\n", "\tuser1\t"}).join('\n').toStdString());
}

// A sound output stuck in a write until the test lets it go: ending the engine lets its player go instead of
// waiting on it (the player owns the output, which it leaves when its write returns).
TEST(SpeechEngineEnd, AStuckSoundOutputDoesNotHoldUpTheEnd) {
    struct Gate { std::mutex m; std::condition_variable cv; bool entered = false, released = false; };
    struct Stuck : lesemund::speech::AudioSink {
        std::shared_ptr<Gate> gate;
        explicit Stuck(std::shared_ptr<Gate> g) : gate(std::move(g)) {}
        bool open(int) override { return true; }
        bool isOpen() const override { return true; }
        void close() override {}
        bool write(const int16_t *, std::size_t) override {
            std::unique_lock lock(gate->m);
            gate->entered = true;
            gate->cv.notify_all();
            gate->cv.wait(lock, [&] { return gate->released; });
            return true;
        }
    };
    const auto gate = std::make_shared<Gate>();
    auto engine = std::make_unique<lesemund::speech::SpeechEngine>(std::make_unique<Stuck>(gate));
    engine->speakNow(kShort);
    std::unique_lock lock(gate->m);
    ASSERT_TRUE(gate->cv.wait_for(lock, 5s, [&] { return gate->entered; }));
    lock.unlock();
    auto ended = std::async(std::launch::async, [&] { engine.reset(); });
    const bool inTime = ended.wait_for(3s) == std::future_status::ready;
    lock.lock();
    gate->released = true;
    gate->cv.notify_all();
    lock.unlock();
    ended.wait();
    EXPECT_TRUE(inTime) << "the end waited on the stuck output";
}

// Takes each utterance whole as fast as it comes.
struct Utterances : lesemund::speech::AudioSink {
    bool open(int) override { return true; }
    bool isOpen() const override { return true; }
    void close() override {}
    void beginUtterance() override { heard.emplace_back(); }
    bool write(const int16_t *s, std::size_t n) override { return heard.back().insert(heard.back().end(), s, s + n), true; }
    std::size_t room() const override { return 1 << 20; }
    bool pacesItself() const override { return true; }
    std::vector<std::vector<int16_t>> &heard;
    explicit Utterances(std::vector<std::vector<int16_t>> &h) : heard(h) {}
};

// Rate, pitch, volume and voice shape the embedded speech from the next text on; a name it does not offer is its
// standard voice. The desktop's speech out of reach is told once per choice, and the embedded voice speaks instead.
TEST(SpeechVoice, EmbeddedVoiceSettingsAndTheUnreachableDesktopSpeech) {
    const QString female = lesemund::speech::SpeechPageHost().voiceNames(Voice::Output::Embedded).value(4);
    const Voice desktop{.output = Voice::Output::Desktop};
    struct Case { Voice voice; double length, peak, pitch; } cases[] = { // against the standard voice: factors
        {{}, 1, 1, 1}, {{.rate = 80}, 2.1, 1, 0}, {{.rate = 450}, 0.4, 1, 0}, {{.pitch = 100, .volume = 25}, 1, 0.25, 1.6},
        {{.voice = female}, 1, 1, 1.6}, {{.voice = "Unbekannt"}, 1, 1, 1}, {desktop}, {desktop}, {}, {desktop}};
    std::vector<std::vector<int16_t>> heard;
    lesemund::speech::SpeechEngine engine(std::make_unique<Utterances>(heard), {}, [] {
        return lesemund::platform::makeSpeechDispatcher("unix_socket:/nonexistent/speechd.sock", false);
    });
    for (const Case &c : cases) {
        engine.setVoice(c.voice);
        engine.speakNow(kShort);
        ASSERT_TRUE(engine.waitUntilIdle(5s));
    }
    ASSERT_EQ(heard.size(), std::size(cases));
    const auto peak = [](const std::vector<int16_t> &v) { return double(*std::max_element(v.begin(), v.end())); };
    for (int i = 1; i < 6; ++i) {
        EXPECT_NEAR(heard[i].size() / double(heard[0].size()), cases[i].length, 0.15 * cases[i].length) << i;
        EXPECT_NEAR(peak(heard[i]) / peak(heard[0]), cases[i].peak, 0.2) << i;
        if (cases[i].pitch > 0) { // too few voiced frames at other rates
            EXPECT_NEAR(pitchOf(heard[i], 22050) / pitchOf(heard[0], 22050), cases[i].pitch, 0.2) << i;
        }
    }
    const std::size_t notice = samples(lesemund::speech::kDesktopUnreachable), text = render(kShort).size();
    for (int i = 6; i < 10; ++i) // told at the first text after each choice of the desktop's speech
        EXPECT_NEAR(heard[i].size(), (i == 6 || i == 9 ? notice + text : heard[0].size()), text / 20) << i;
    lesemund::speech::SpeechPageHost host;
    host.setVoice(desktop);
    EXPECT_EQ(host.voice(), desktop) << "the listener's choice is kept";
}

// speech-dispatcher of the test's own with its espeak-ng module: heard, stopped, cut off, paused and resumed as
// the embedded voice is; rate and voice change what is heard.
TEST(SpeechVoice, DesktopSpeechIsHeardStoppedPausedResumedAndTakesRateAndVoice) {
    PulseServer pulse;
    MonitorRecorder recorder;
    SpeechDispatcherServer speechd;
    ASSERT_TRUE(pulse.start() && recorder.start(pulse.address(), pulse.monitorName()) && speechd.start(pulse));
    Page p("data-output=speechd", [&] { return lesemund::platform::makeSpeechDispatcher(speechd.address(), false); });
    p.load();
    EXPECT_EQ(p.host.voice(), Voice{.output = Voice::Output::Desktop});
    const auto heard = [&](Time from) { // until the speech had died away
        EXPECT_TRUE(p.idle());
        const Time end = Time::clock::now() + 300ms;
        return recorder.waitRecorded(end, 3s) ? recorder.audibleTime(from, end).count() : -1;
    };
    Time t = p.click("user1", kShort);
    ASSERT_TRUE(recorder.waitAudible(t, 5s));
    const long normal = heard(t);
    for (const QString cutter : {"Stop", "user1"}) { // nothing of the long text after them
        ASSERT_TRUE(recorder.waitAudible(p.click("user1", kLong) + 300ms, 3s));
        const long after = heard(p.click(cutter, kShort) + 200ms);
        EXPECT_TRUE(cutter == "Stop" ? after == 0 : after > normal - 250 && after < normal + 100) << after;
    }
    t = p.click("user1", kMedium); // paused amid its words: it goes on with the word it was in
    ASSERT_TRUE(recorder.waitAudible(t + 900ms, 3s));
    const Time paused = p.click("pause");
    std::this_thread::sleep_for(500ms);
    const Time resumed = p.click("Weiter");
    EXPECT_EQ(recorder.audibleTime(paused + 250ms, resumed), 0ms) << "heard while paused";
    EXPECT_TRUE(recorder.waitAudible(resumed, 500ms)) << "Weiter was not heard at once";
    const long spoken = MonitorRecorder::audibleTime(render(kMedium), 22050).count(); // espeak-ng's module alike
    EXPECT_NEAR(heard(t), spoken, 400) << "lost or said twice";
    ASSERT_TRUE(waitFor([&] { return !p.host.voiceNames(Voice::Output::Desktop).isEmpty(); }, 10s));
    const QStringList names = p.host.voiceNames(Voice::Output::Desktop);
    EXPECT_TRUE(names.contains("German+female3") && names.filter(QRegularExpression("^German")) == names);
    std::vector<double> pitch, time;
    for (const Voice &v : {Voice{.rate = 450}, Voice{.voice = "German+female3"}, Voice{}}) {
        p.host.setVoice(Voice{v.rate, v.pitch, v.volume, v.voice, Voice::Output::Desktop});
        t = p.click("user1", kShort);
        time.push_back(heard(t));
        pitch.push_back(pitchOf(recorder.levels(t, Time::clock::now()), 48000));
    }
    EXPECT_LT(time[0], 0.6 * normal) << "the rate was not heard";
    EXPECT_GT(pitch[1], 1.4 * pitch[2]) << "the voice was not heard";
}
