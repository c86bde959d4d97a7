// The speech page host on real espeak-ng, heard through the WAV output of a
// page of the test's own in a copied data folder.
#include "speechtesting.h"

#include "speech/espeak.h"
#include "speech/speechpage.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <sys/stat.h>

using namespace std::chrono_literals;
using lesemund::platform::SpeechPageHost;
using lesemund::speech::Espeak;
using lesemund::testing::EngineLog;
using lesemund::testing::TempDataFolder;
using lesemund::testing::speechPage;
using lesemund::testing::waitFor;
using lesemund::testing::wavFiles;
using lesemund::testing::wavHeaderSamples;
using lesemund::testing::wavSamples;

namespace {

constexpr qint64 kRate = 22050;
constexpr qint64 samplesOf(std::chrono::milliseconds ms) { return kRate * ms.count() / 1000; }

// About three seconds of speech.
const QString kMedium = QString::fromUtf8(
    "Dies ist ein etwas längerer Satz, damit Pause, Weiter und Stopp deutlich zu hören sind.");
const QString kShort = "Guten Tag";
const QString kShort2 = "Auf Wiedersehen";
const QString kDirective = "#voice=name:qvx.de.tonra#";

qint64 referenceSamples(const QString &text, const QString &language = "de", bool ssml = false) {
    return qint64(Espeak::instance().render(text, language, ssml).size());
}

// The same speech within the small variation espeak-ng has from one
// synthesis to the next.
void expectAbout(qint64 actual, qint64 reference) {
    EXPECT_GT(reference, 0);
    EXPECT_NEAR(double(actual), double(reference), 0.12 * double(reference))
        << "actual " << actual << " reference " << reference;
}

class SpeechPageHostTest : public ::testing::Test {
protected:
    void SetUp() override { load(speechPage(R"(data-output="wav:wav" data-journal="journal.txt")")); }

    void load(const QByteArray &page) {
        folder.write("sp", page);
        host = std::make_unique<SpeechPageHost>();
        host->navigate(folder.path("sp"));
        ASSERT_TRUE(host->isLoaded());
        host->engine()->setObserver(log.observer());
    }

    void writeText(const QString &name, const QString &text) { folder.write(name, text.toLatin1()); }
    bool click(const QString &name) { return host->clickButton(name); }
    QStringList files() const { return wavFiles(folder.path("wav")); }
    qint64 samples(int index) const {
        const QStringList names = files();
        return index < names.size() ? wavSamples(folder.path("wav/" + names[index])) : 0;
    }
    bool waitIdle(std::chrono::milliseconds timeout = 10s) { return host->engine()->waitUntilIdle(timeout); }
    bool waitSamples(int index, qint64 atLeast, std::chrono::milliseconds timeout = 5s) {
        return waitFor([&] { return samples(index) >= atLeast; }, timeout);
    }
    QStringList journal() const {
        return QString::fromUtf8(folder.read("journal.txt")).split('\n', Qt::SkipEmptyParts);
    }
    QStringList spokenTexts() const {
        QStringList texts;
        for (const auto &info : log.started())
            texts << info.text;
        return texts;
    }

    TempDataFolder folder;
    EngineLog log;
    std::unique_ptr<SpeechPageHost> host;
};

} // namespace

// --- Loading the page -------------------------------------------------------

TEST(SpeechPageLoading, ClicksWithoutAPageDoNothing) {
    SpeechPageHost host;
    EXPECT_FALSE(host.isLoaded());
    EXPECT_FALSE(host.clickButton("user1"));
    EXPECT_EQ(host.engine(), nullptr);

    TempDataFolder folder;
    host.navigate(folder.path("gibtsnicht"));
    EXPECT_FALSE(host.isLoaded());
    EXPECT_FALSE(host.clickButton("user1"));
}

TEST(SpeechPageLoading, ShippedPageDeclaresTheNineButtonsAndSpeaksThroughTheSoundServer) {
    TempDataFolder folder;
    SpeechPageHost host;
    host.navigate(folder.path("sp"));
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.page()->settings().output, lesemund::speech::PageSettings::Output::Sound);
    EXPECT_TRUE(host.page()->settings().journalPath.isEmpty());
    EXPECT_EQ(host.page()->settings().buttons, lesemund::testing::kAllButtons);
    EXPECT_EQ(host.page()->dataFolder(), folder.dataFolder());
    EXPECT_TRUE(folder.read("sp").contains("<title>"));
}

TEST(SpeechPageLoading, GarbledPagesLoadNothingAndNeverHang) {
    TempDataFolder folder;
    std::mt19937 random(7);
    QByteArray binary(64 * 1024, '\0');
    for (char &c : binary)
        c = char(random() % 256);
    binary.replace("<form", "<f0rm").replace("<FORM", "<F0RM");
    folder.write("binaer", binary);
    QDir(folder.dataFolder()).mkdir("ordner");
    const QByteArray fifo = QFile::encodeName(folder.path("fifo"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);

    const auto start = std::chrono::steady_clock::now();
    for (const QString &page : {folder.path("binaer"), folder.path("ordner"), folder.path("fifo"),
                                QString("/dev/zero"), QString()}) {
        SpeechPageHost host;
        host.navigate(page);
        EXPECT_FALSE(host.isLoaded()) << page.toStdString();
        EXPECT_FALSE(host.clickButton("user1"));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    // Markup in the middle of garbage is still found.
    folder.write("gemischt", binary + "<form data-output=none><input type=button name=Stop>" + binary);
    SpeechPageHost host;
    host.navigate(folder.path("gemischt"));
    EXPECT_TRUE(host.isLoaded());
    EXPECT_TRUE(host.clickButton("Stop"));
    EXPECT_FALSE(host.clickButton("user1"));
}

TEST(SpeechPageLoading, NavigatingAgainReplacesThePage) {
    TempDataFolder folder;
    folder.write("sp", speechPage(R"(data-output="none")"));
    folder.write("sp2", speechPage(R"(data-output="none")", {"Stop"}));
    SpeechPageHost host;
    host.navigate("file://" + folder.path("sp"));
    ASSERT_TRUE(host.isLoaded());
    EXPECT_TRUE(host.clickButton("pause"));
    host.navigate(folder.path("sp2"));
    EXPECT_FALSE(host.clickButton("pause"));
    EXPECT_TRUE(host.clickButton("Stop"));
    host.navigate(folder.path("weg"));
    EXPECT_FALSE(host.isLoaded());
    EXPECT_FALSE(host.clickButton("Stop"));
}

// --- The buttons --------------------------------------------------------------

TEST_F(SpeechPageHostTest, ButtonTheFormLacksIsIgnored) {
    load(speechPage(R"(data-output="wav:wav" data-journal="journal.txt")",
                    {"user1", "user2", "fenster1", "Hilfe", "Sprech", "pause", "Weiter"}));
    writeText("text.txt", kShort);
    EXPECT_FALSE(click("Stop"));
    EXPECT_FALSE(click("Nochmal"));
    EXPECT_FALSE(click("Gibtsnicht"));
    EXPECT_FALSE(click("USER1"));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(journal().isEmpty());
    EXPECT_TRUE(log.started().empty());

    // The same page does speak and journal a button it declares.
    EXPECT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(files().size(), 1);
    ASSERT_EQ(journal().size(), 1);
    EXPECT_TRUE(journal()[0].contains("\tuser1\t"));
}

TEST_F(SpeechPageHostTest, DirectiveIsNeverSpoken) {
    const qint64 plain = referenceSamples(kShort);
    const qint64 literal = referenceSamples(kDirective + kShort);
    ASSERT_GT(literal, plain * 3 / 2) << "spoken aloud, the directive would be heard";

    writeText("text.txt", kDirective + kShort);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    writeText("text.txt", "\"" + kDirective + "\"" + kShort + "\r\n");
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());

    ASSERT_EQ(files().size(), 2);
    expectAbout(samples(0), plain);
    expectAbout(samples(1), plain);
    EXPECT_EQ(spokenTexts(), (QStringList{kShort, kShort + "\r\n"}));
    // The journal has the text as the page received it.
    EXPECT_TRUE(journal().value(0).endsWith("\tuser1\t" + kDirective + kShort));
}

TEST_F(SpeechPageHostTest, DirectiveAloneSaysNothing) {
    writeText("text.txt", kDirective);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(log.started().empty());
}

TEST_F(SpeechPageHostTest, DirectiveChoosesTheLanguageOrGerman) {
    writeText("text.txt", "#voice=name:qvx.en.tonra#Good morning");
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    writeText("text.txt", "#voice=name:qvx.zzz.tonra#Guten Morgen");
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    writeText("text.txt", "Guten Abend");
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    const auto started = log.started();
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0].language, "en");
    EXPECT_EQ(started[0].text, "Good morning");
    EXPECT_EQ(started[1].language, "de");
    EXPECT_EQ(started[2].language, "de");
    expectAbout(samples(0), referenceSamples("Good morning", "en"));
}

TEST_F(SpeechPageHostTest, PauseHoldsTheSamplesAndWeiterContinuesThem) {
    const qint64 full = referenceSamples(kMedium);
    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitSamples(0, samplesOf(500ms)));

    ASSERT_TRUE(click("pause"));
    std::this_thread::sleep_for(30ms);
    const qint64 atPause = samples(0);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(samples(0), atPause) << "the file grew while paused";
    EXPECT_TRUE(host->engine()->isPaused());
    EXPECT_LT(atPause, full - samplesOf(1000ms));

    ASSERT_TRUE(click("Weiter"));
    EXPECT_TRUE(waitSamples(0, atPause + samplesOf(200ms), 2s)) << "no speech after Weiter";
    ASSERT_TRUE(waitIdle());
    // Nothing lost, nothing said twice: the whole text, once.
    EXPECT_EQ(files().size(), 1);
    expectAbout(samples(0), full);
    EXPECT_EQ(wavHeaderSamples(folder.path("wav/" + files()[0])), samples(0));
}

TEST_F(SpeechPageHostTest, PauseWithNothingToSayIsForgotten) {
    ASSERT_TRUE(click("pause"));
    EXPECT_FALSE(host->engine()->isPaused());
    writeText("text.txt", kShort);
    ASSERT_TRUE(click("user2"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(files().size(), 1);
}

TEST_F(SpeechPageHostTest, StopEmptiesTheQueue) {
    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    writeText("text.txt", kShort2);
    ASSERT_TRUE(click("user2"));
    ASSERT_TRUE(waitSamples(0, samplesOf(300ms)));
    ASSERT_TRUE(click("Stop"));
    const qint64 atStop = samples(0);
    ASSERT_TRUE(waitIdle(1s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(files().size(), 1) << "the queued text was spoken after Stop";
    EXPECT_LT(samples(0), atStop + samplesOf(50ms));
    EXPECT_FALSE(spokenTexts().contains(kShort2));
}

TEST_F(SpeechPageHostTest, User1CutsOffAndUser2Queues) {
    const qint64 medium = referenceSamples(kMedium);
    const qint64 short1 = referenceSamples(kShort);
    const qint64 short2 = referenceSamples(kShort2);

    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitSamples(0, samplesOf(300ms)));
    writeText("text.txt", kShort);
    ASSERT_TRUE(click("user1"));           // cuts off the long one
    writeText("text.txt", kShort2);
    ASSERT_TRUE(click("user2"));           // waits for the short one
    ASSERT_TRUE(waitIdle());

    ASSERT_EQ(files().size(), 3);
    EXPECT_LT(samples(0), medium / 2) << "user1 did not cut off";
    expectAbout(samples(1), short1);
    expectAbout(samples(2), short2);
    EXPECT_EQ(spokenTexts(), (QStringList{kMedium, kShort, kShort2}));
}

TEST_F(SpeechPageHostTest, NochmalRepeatsTheLastTextAsItWasClicked) {
    writeText("text.txt", kShort);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    writeText("text.txt", "Ein anderer Text, nie geklickt");
    ASSERT_TRUE(click("Nochmal"));
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(files().size(), 2);
    expectAbout(samples(1), samples(0));
    EXPECT_EQ(spokenTexts(), (QStringList{kShort, kShort}));
}

TEST_F(SpeechPageHostTest, NochmalRepeatsAfterStop) {
    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitSamples(0, samplesOf(300ms)));
    ASSERT_TRUE(click("Stop"));
    ASSERT_TRUE(waitIdle(1s));
    ASSERT_TRUE(click("Nochmal"));
    EXPECT_TRUE(waitSamples(1, samplesOf(300ms)));
    EXPECT_EQ(spokenTexts(), (QStringList{kMedium, kMedium}));
    ASSERT_TRUE(click("Stop"));
    EXPECT_TRUE(waitIdle(1s));
}

TEST_F(SpeechPageHostTest, NochmalSaysNothingBeforeAnythingWasSpoken) {
    writeText("text.txt", kShort); // written, never clicked
    ASSERT_TRUE(click("Nochmal"));
    EXPECT_TRUE(waitIdle(1s));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(log.started().empty());
}

TEST_F(SpeechPageHostTest, WindowAndHelpButtonsReadTheirFiles) {
    writeText("fenster.txt", kDirective + "Fenstertitel\r\n");
    writeText("hilfe.txt", "Kurze Hilfe");
    writeText("text.txt", "falsche Datei");
    ASSERT_TRUE(click("fenster1"));
    ASSERT_TRUE(log.waitStarted(1, 5s));
    ASSERT_TRUE(click("Hilfe"));
    ASSERT_TRUE(log.waitStarted(2, 5s));
    ASSERT_TRUE(click("Sprech"));
    ASSERT_TRUE(log.waitStarted(3, 5s));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(spokenTexts(), (QStringList{"Fenstertitel\r\n", "Fenstertitel\r\n", "Kurze Hilfe"}));
}

TEST_F(SpeechPageHostTest, MissingSpeechFileSpeaksNothingButIsJournaled) {
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle(1s));
    EXPECT_TRUE(files().isEmpty());
    ASSERT_EQ(journal().size(), 1);
    EXPECT_TRUE(journal()[0].endsWith("\tuser1\t"));
}

TEST_F(SpeechPageHostTest, JournalLineFormat) {
    writeText("text.txt", "Erste Zeile\r\nZweite Zeile\n");
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(click("pause"));
    ASSERT_TRUE(click("Stop"));
    const QStringList lines = journal();
    ASSERT_EQ(lines.size(), 3);
    static const QRegularExpression format(
        R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})\t([^\t]+)\t(.*)$)");
    const auto first = format.match(lines[0]);
    ASSERT_TRUE(first.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(first.captured(2), "user1");
    EXPECT_EQ(first.captured(3), R"(Erste Zeile\r\nZweite Zeile\n)");
    const QDateTime stamped = QDateTime::fromString(first.captured(1), "yyyy-MM-ddTHH:mm:ss.zzz");
    ASSERT_TRUE(stamped.isValid());
    EXPECT_LE(std::abs(before.msecsTo(stamped)), 2000) << "not the local time of the click";
    EXPECT_TRUE(format.match(lines[1]).hasMatch());
    EXPECT_TRUE(lines[1].endsWith("\tpause\t"));
    EXPECT_TRUE(lines[2].endsWith("\tStop\t"));
}

TEST_F(SpeechPageHostTest, Windows1252TextReachesTheEngineAsUnicode) {
    const QByteArray bytes("\xC4pfel, \xD6l und Stra\xDF" "e \x80");
    const QString expected = QString::fromUtf8("Äpfel, Öl und Straße €");
    folder.write("text.txt", bytes);
    ASSERT_TRUE(click("user1")); // with the journal, the page decodes the text
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(folder.read("journal.txt").contains(expected.toUtf8()));

    load(speechPage(R"(data-output="wav:wav")")); // without it, the engine's worker does
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(spokenTexts(), (QStringList{expected, expected}));
    ASSERT_EQ(files().size(), 2);
    expectAbout(samples(1), referenceSamples(expected));
}

TEST_F(SpeechPageHostTest, TextBeginningWithSpeakIsSsml) {
    const QString ssml = R"(<speak>Hallo<break time="1500ms"/>Welt</speak>)";
    const qint64 asSsml = referenceSamples(ssml, "de", true);
    const qint64 asText = referenceSamples(ssml, "de", false);
    ASSERT_GT(asText, asSsml * 13 / 10) << "read as plain text, the markup would be heard";

    writeText("text.txt", kDirective + ssml);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    const auto started = log.started();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0].ssml);
    expectAbout(samples(0), asSsml);
    // The break is heard: longer than the two words alone.
    EXPECT_GT(samples(0), referenceSamples("<speak>Hallo Welt</speak>", "de", true) + samplesOf(1000ms));
}

TEST_F(SpeechPageHostTest, ClickReturnsAtOnce) {
    writeText("text.txt", QString::fromUtf8(
        "Der schnelle braune Fuchs springt über den faulen Hund, und die Katze schläft ruhig im Korb."));
    std::vector<double> micros;
    for (int i = 0; i < 30; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(click(i % 3 == 2 ? "user2" : "user1"));
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        std::this_thread::sleep_for(5ms);
    }
    std::sort(micros.begin(), micros.end());
    EXPECT_LT(micros[micros.size() / 2], 1000.0) << "median click " << micros[micros.size() / 2] << " us";
    ASSERT_TRUE(click("Stop"));
    EXPECT_TRUE(waitIdle(2s));
}

TEST_F(SpeechPageHostTest, DestroyingWhileSpeakingOrPausedIsPrompt) {
    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    writeText("text.txt", kShort);
    ASSERT_TRUE(click("user2"));
    ASSERT_TRUE(waitSamples(0, samplesOf(200ms)));
    auto start = std::chrono::steady_clock::now();
    host.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms);

    load(speechPage(R"(data-output="wav:wav")"));
    writeText("text.txt", kMedium);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitSamples(1, samplesOf(200ms)));
    ASSERT_TRUE(click("pause"));
    std::this_thread::sleep_for(50ms);
    start = std::chrono::steady_clock::now();
    host.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms);
}

TEST(SpeechPageSound, WithoutASoundServerTheSpeechGoesNowhere) {
    const QByteArray saved = qgetenv("PULSE_SERVER");
    const bool hadServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/lesemund-test/native");
    {
        TempDataFolder folder;
        folder.write("sp", speechPage(R"(data-output="sound")"));
        folder.write("text.txt", "Hallo");
        SpeechPageHost host;
        host.navigate(folder.path("sp"));
        ASSERT_TRUE(host.isLoaded());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(host.clickButton("user1"));
        EXPECT_TRUE(host.clickButton("user2"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
        EXPECT_TRUE(host.engine()->waitUntilIdle(5s));
        EXPECT_TRUE(host.clickButton("Nochmal"));
        EXPECT_TRUE(host.engine()->waitUntilIdle(5s));
    }
    if (hadServer)
        qputenv("PULSE_SERVER", saved);
    else
        qunsetenv("PULSE_SERVER");
}
