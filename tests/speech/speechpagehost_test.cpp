// The speech page host on real espeak-ng, heard through the WAV output of a
// page of the test's own in a copied data folder.
#include "speechtesting.h"

#include "platform/speechpagehost.h"
#include "speech/espeak.h"
#include "speech/speechpage.h"
#include "support/tempdatafolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <vector>

using namespace std::chrono_literals;
using namespace lesemund::testing;
using lesemund::platform::SpeechPageHost;

namespace {

const QStringList kAllButtons = {"user1", "user2", "fenster1", "Hilfe", "Sprech", "pause", "Weiter", "Stop", "Nochmal"};
// About three seconds of speech.
const QString kMedium = QString::fromUtf8(
    "Dies ist ein etwas längerer Satz, damit Pause, Weiter und Stopp deutlich zu hören sind.");
constexpr qint64 samplesOf(std::chrono::milliseconds ms) { return 22050 * ms.count() / 1000; }
const QString kShort = "Guten Tag";
const QString kShort2 = "Auf Wiedersehen";
const QString kDirective = "#voice=name:qvx.de.tonra#";

// A page whose first form has `formAttributes` and declares `buttons`.
QByteArray speechPage(const QString &formAttributes, const QStringList &buttons = kAllButtons) {
    QString html = "<!DOCTYPE html>\n<html><head><title>Prüfseite</title></head><body>\n<form " + formAttributes
                   + ">\n";
    for (const QString &name : buttons)
        html += "<input type=\"button\" name=\"" + name + "\" value=\"" + name + "\">\n";
    return (html + "</form>\n</body></html>\n").toUtf8();
}

// Records the utterances whose synthesis the engine began.
class EngineLog {
public:
    lesemund::speech::EngineObserver observer() {
        return {[this](const lesemund::speech::UtteranceInfo &info) {
            std::lock_guard lock(m_);
            started_.push_back(info);
        }, {}};
    }
    std::vector<lesemund::speech::UtteranceInfo> started() const {
        std::lock_guard lock(m_);
        return started_;
    }
    QStringList texts() const {
        QStringList texts;
        for (const auto &info : started())
            texts << info.text;
        return texts;
    }

private:
    mutable std::mutex m_;
    std::vector<lesemund::speech::UtteranceInfo> started_;
};

qint64 referenceSamples(const QString &text, const QString &language = "de", bool ssml = false) {
    return qint64(lesemund::speech::Espeak::instance().render(text, language, ssml).size());
}

// The same speech within the small variation espeak-ng has from one
// synthesis to the next.
void expectAbout(qint64 actual, qint64 reference) {
    EXPECT_GT(reference, 0);
    EXPECT_NEAR(double(actual), double(reference), 0.12 * double(reference));
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
    void writeText(const QString &text, const QString &name = "text.txt") { folder.write(name, text.toLatin1()); }
    bool click(const QString &name) { return host->clickButton(name); }
    bool waitIdle(std::chrono::milliseconds timeout = 10s) { return host->engine()->waitUntilIdle(timeout); }
    QStringList files() const { return QDir(folder.path("wav")).entryList({"*.wav"}, QDir::Files, QDir::Name); }
    // The samples of the index-th WAV file as its size says (the header is 44 bytes).
    qint64 samples(int index) const {
        const QStringList names = files();
        const qint64 size = index >= 0 && index < names.size() ? QFileInfo(folder.path("wav/" + names[index])).size() : 0;
        return std::max<qint64>(0, (size - 44) / 2);
    }
    bool waitSamples(int index, qint64 atLeast, std::chrono::milliseconds timeout = 5s) {
        return waitFor([&] { return samples(index) >= atLeast; }, timeout);
    }
    QStringList journal() const {
        return QString::fromUtf8(folder.read("journal.txt")).split('\n', Qt::SkipEmptyParts);
    }

    TempDataFolder folder;
    EngineLog log;
    std::unique_ptr<SpeechPageHost> host;
};

} // namespace

TEST(SpeechPageLoading, NoPageOrAnUnreadableOneLoadsNothingAndNeverHangs) {
    TempDataFolder folder;
    std::mt19937 random(7);
    QByteArray binary(64 * 1024, '\0');
    for (char &c : binary)
        c = char(random() % 256);
    binary.replace("<form", "<f0rm").replace("<FORM", "<F0RM");
    folder.write("binaer", binary);
    QDir(folder.dataFolder()).mkdir("ordner");
    ASSERT_EQ(mkfifo(QFile::encodeName(folder.path("fifo")).constData(), 0600), 0);

    EXPECT_FALSE(SpeechPageHost().clickButton("user1")) << "never navigated";
    const auto start = std::chrono::steady_clock::now();
    for (const QString &page : {folder.path("gibtsnicht"), folder.path("binaer"), folder.path("ordner"),
                                folder.path("fifo"), QString("/dev/zero"), QString()}) {
        SpeechPageHost host;
        host.navigate(page);
        EXPECT_FALSE(host.isLoaded()) << page.toStdString();
        EXPECT_FALSE(host.clickButton("user1"));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    // A form in the middle of garbage is still found; navigating again
    // replaces the page, and to nothing leaves no page.
    folder.write("gemischt", binary + "<form data-output=none><input type=button name=Stop>" + binary);
    SpeechPageHost host;
    host.navigate("file://" + folder.path("sp")); // the shipped page
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.page()->settings().buttons, kAllButtons);
    EXPECT_EQ(host.page()->settings().output, lesemund::speech::PageSettings::Output::Sound);
    EXPECT_EQ(host.page()->dataFolder(), folder.dataFolder());
    EXPECT_TRUE(host.clickButton("pause"));
    host.navigate(folder.path("gemischt"));
    EXPECT_FALSE(host.clickButton("pause"));
    EXPECT_TRUE(host.clickButton("Stop"));
    host.navigate(folder.path("weg"));
    EXPECT_FALSE(host.isLoaded());
    EXPECT_FALSE(host.clickButton("Stop"));
}

TEST_F(SpeechPageHostTest, ButtonTheFormLacksIsIgnored) {
    load(speechPage(R"(data-output="wav:wav" data-journal="journal.txt")",
                    {"user1", "user2", "fenster1", "Hilfe", "Sprech", "pause", "Weiter"}));
    writeText(kShort);
    for (const QString name : {"Stop", "Nochmal", "Gibtsnicht", "USER1"})
        EXPECT_FALSE(click(name)) << name.toStdString();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(journal().isEmpty());
    EXPECT_TRUE(log.started().empty());

    // The same page does speak and journal a button it declares.
    EXPECT_TRUE(click("user1"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(files().size(), 1);
    EXPECT_EQ(journal().size(), 1);
}

TEST_F(SpeechPageHostTest, VoiceDirectiveIsNeverSpokenAndChoosesTheLanguageTextOrSsml) {
    const QString ssml = R"(<speak>Hallo<break time="1500ms"/>Welt</speak>)";
    ASSERT_GT(referenceSamples(kDirective + kShort), referenceSamples(kShort) * 3 / 2)
        << "spoken aloud, the directive would be heard";
    ASSERT_GT(referenceSamples(ssml), referenceSamples(ssml, "de", true) * 13 / 10)
        << "read as plain text, the markup would be heard";
    const struct { QString text, spoken, language; } cases[] = {
        {kDirective + kShort, kShort, "de"},
        {"\"" + kDirective + "\"" + kShort + "\r\n", kShort + "\r\n", "de"},
        {kDirective, "", ""}, // the directive alone says nothing
        {"#voice=name:qvx.en.tonra#Good morning", "Good morning", "en"},
        {"#voice=name:qvx.zzz.tonra#Guten Morgen", "Guten Morgen", "de"},
        {"Guten Abend", "Guten Abend", "de"},
        {kDirective + ssml, ssml, "de"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const std::size_t spoken = log.started().size();
        const int heard = files().size();
        writeText(c.text);
        ASSERT_TRUE(click("user1"));
        ASSERT_TRUE(waitIdle());
        ASSERT_EQ(log.started().size(), spoken + (c.spoken.isEmpty() ? 0 : 1));
        ASSERT_EQ(files().size(), heard + (c.spoken.isEmpty() ? 0 : 1));
        if (c.spoken.isEmpty())
            continue;
        const bool isSsml = c.spoken == ssml;
        EXPECT_EQ(log.started().back().text, c.spoken);
        EXPECT_EQ(log.started().back().language, c.language);
        EXPECT_EQ(log.started().back().ssml, isSsml);
        expectAbout(samples(heard), referenceSamples(c.spoken, c.language, isSsml));
    }
    // The journal has the text as the page received it.
    EXPECT_TRUE(journal().value(0).endsWith("\tuser1\t" + kDirective + kShort));
}

TEST_F(SpeechPageHostTest, PauseHoldsTheSamplesAndWeiterContinuesThem) {
    const qint64 full = referenceSamples(kMedium);
    writeText(kMedium);
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
    // Nothing lost, nothing said twice: the whole text, once, in a file
    // whose header gives its length.
    ASSERT_EQ(files().size(), 1);
    const QByteArray wav = folder.read("wav/" + files()[0]);
    ASSERT_TRUE(wav.startsWith("RIFF") && wav.mid(8, 8) == "WAVEfmt " && wav.mid(36, 4) == "data");
    EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 40) / 2, samples(0));
    // The leading silence espeak-ng begins with is not played, the rest is.
    std::vector<int16_t> reference = lesemund::speech::Espeak::instance().render(kMedium);
    const auto audible = std::find_if(reference.begin(), reference.end(), [](int16_t v) { return std::abs(v) > 64; });
    ASSERT_GT(audible - reference.begin(), 22050 / 200) << "espeak-ng began without silence";
    EXPECT_GT(std::abs(qFromLittleEndian<qint16>(wav.constData() + 44)), 64) << "began with silence";
    expectAbout(samples(0), reference.end() - audible);
}

TEST_F(SpeechPageHostTest, StopEmptiesTheQueueAndNochmalRepeatsWhatWasHeard) {
    // Before anything was spoken, pause and Nochmal are forgotten.
    writeText(kMedium);
    ASSERT_TRUE(click("pause"));
    ASSERT_TRUE(click("Nochmal"));
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(host->engine()->isPaused());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(log.started().empty());

    ASSERT_TRUE(click("user1"));
    writeText(kShort2);
    ASSERT_TRUE(click("user2"));
    ASSERT_TRUE(waitSamples(0, samplesOf(300ms)));
    ASSERT_TRUE(click("Stop"));
    const qint64 atStop = samples(0);
    ASSERT_TRUE(waitIdle(1s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(files().size(), 1) << "the queued text was spoken after Stop";
    EXPECT_LT(samples(0), atStop + samplesOf(50ms));

    ASSERT_TRUE(click("Nochmal")); // after Stop
    EXPECT_TRUE(waitSamples(1, samplesOf(300ms)));
    EXPECT_EQ(log.texts(), (QStringList{kMedium, kMedium}));
    ASSERT_TRUE(click("Stop"));
    EXPECT_TRUE(waitIdle(1s));
}

TEST_F(SpeechPageHostTest, User1CutsOffUser2QueuesNochmalRepeatsTheTextAsClicked) {
    writeText(kMedium);
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(waitSamples(0, samplesOf(300ms)));
    writeText(kShort);
    ASSERT_TRUE(click("user1")); // cuts off the long one
    writeText(kShort2);
    ASSERT_TRUE(click("user2")); // waits for the short one
    ASSERT_TRUE(waitIdle());
    writeText("Ein anderer Text, nie geklickt");
    ASSERT_TRUE(click("Nochmal"));
    ASSERT_TRUE(waitIdle());

    ASSERT_EQ(files().size(), 4);
    EXPECT_LT(samples(0), referenceSamples(kMedium) / 2) << "user1 did not cut off";
    expectAbout(samples(1), referenceSamples(kShort));
    expectAbout(samples(2), referenceSamples(kShort2));
    expectAbout(samples(3), samples(2));
    EXPECT_EQ(log.texts(), (QStringList{kMedium, kShort, kShort2, kShort2}));
}

TEST_F(SpeechPageHostTest, JournalLineFormat) {
    writeText("Erste Zeile\r\nZweite Zeile\n");
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_TRUE(click("user1"));
    ASSERT_TRUE(click("pause"));
    ASSERT_TRUE(click("Stop"));
    ASSERT_TRUE(waitIdle());
    const int heard = files().size();
    QFile::remove(folder.path("text.txt"));
    ASSERT_TRUE(click("user1")); // a missing speech file: journaled, not spoken
    ASSERT_TRUE(waitIdle(1s));
    EXPECT_EQ(files().size(), heard);

    const QStringList lines = journal();
    ASSERT_EQ(lines.size(), 4);
    static const QRegularExpression format(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})\t([^\t]+)\t(.*)$)");
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
    EXPECT_TRUE(lines[3].endsWith("\tuser1\t"));
}

TEST_F(SpeechPageHostTest, ButtonsReadTheirFilesAndWindows1252ReachesTheEngineAsUnicode) {
    const QByteArray ansi("\xC4pfel, \xD6l und Stra\xDF" "e \x80");
    const QString expected = QString::fromUtf8("Äpfel, Öl und Straße €");
    folder.write("text.txt", ansi);
    ASSERT_TRUE(click("user1")); // with the journal, the page decodes the text
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(folder.read("journal.txt").contains(expected.toUtf8()));

    load(speechPage(R"(data-output="wav:wav")")); // without it, the engine's worker does
    folder.write("fenster.txt", kDirective.toLatin1() + ansi + "\r\n");
    folder.write("hilfe.txt", "Kurze Hilfe");
    folder.write("text.txt", "falsche Datei");
    for (const QString name : {"fenster1", "Hilfe", "Sprech"}) {
        const std::size_t before = log.started().size();
        ASSERT_TRUE(click(name));
        ASSERT_TRUE(waitFor([&] { return log.started().size() > before; }, 5s)) << name.toStdString();
    }
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(log.texts(), (QStringList{expected, expected + "\r\n", expected + "\r\n", "Kurze Hilfe"}));
}

TEST_F(SpeechPageHostTest, ClicksReturnAtOnceAndDestroyingWhileSpeakingOrPausedIsPrompt) {
    writeText(QString::fromUtf8(
        "Der schnelle braune Fuchs springt über den faulen Hund, und die Katze schläft ruhig im Korb."));
    std::vector<double> micros;
    for (int i = 0; i < 30; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(click(i % 3 == 2 ? "user2" : "user1"));
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        std::this_thread::sleep_for(5ms);
    }
    std::sort(micros.begin(), micros.end());
    EXPECT_LT(micros[micros.size() / 2], 1000.0) << "median click in microseconds";

    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "speaking, with more queued");
        ASSERT_TRUE(waitFor([&] { return samples(files().size() - 1) > samplesOf(200ms); }, 5s));
        if (paused) {
            ASSERT_TRUE(click("pause"));
            std::this_thread::sleep_for(50ms);
            ASSERT_TRUE(host->engine()->isPaused());
        }
        const auto start = std::chrono::steady_clock::now();
        host.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms);
        load(speechPage(R"(data-output="wav:wav")"));
        ASSERT_TRUE(click("user1"));
    }
}

// espeak-ng is loaded once per process, so this runs in a fresh one.
TEST(SpeechPageDeathTest, MissingVoiceDataLeavesTheProgramRunningAndSilent) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDataFolder folder;
    folder.write("sp", speechPage(R"(data-output="wav:wav")"));
    folder.write("text.txt", "Hallo");
    ASSERT_TRUE(QDir(folder.appFolder()).mkdir("leer"));
    EXPECT_EXIT(
        {
            qputenv("ESPEAK_DATA_PATH", QFile::encodeName(folder.appFolder() + "/leer"));
            SpeechPageHost host;
            host.navigate(folder.path("sp"));
            const bool ran = host.clickButton("user1") && host.clickButton("user2") && host.clickButton("Nochmal")
                             && host.engine()->waitUntilIdle(5s);
            std::exit(ran && QDir(folder.path("wav")).entryList({"*.wav"}, QDir::Files).isEmpty() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
