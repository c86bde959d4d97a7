// The listener's voice: its keys and menu answer with the new value, already
// heard in the new voice, and it is kept in the options file.
#include "settings/formini.h"
#include "support/formfixture.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;
using V = speech::VoiceSettings;

namespace lesemund::speech {
void PrintTo(const VoiceSettings &v, std::ostream *os) {
    *os << v.rate << "/" << v.pitch << "/" << v.volume << "/" << v.voice.toStdString() << "/" << int(v.output);
}
} // namespace lesemund::speech

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";
QByteArray shippedOptions() { return TempDataFolder().read("optionen.ini"); }
} // namespace

TEST(Voice, TheOptionsFileKeepsItsOwnSectionBadValuesGiveTheDefaultsAndNoSectionLeavesThePageAlone) {
    const V desktop{300, 60, 80, "Deutsch 2", V::Output::Desktop};
    // [stimme] as written by hand, the voice it gives (none: the page's own choice holds).
    const std::pair<QByteArray, std::optional<V>> files[] = {
        {"", std::nullopt},
        {"Tempo=300\r\nTonhoehe=60\r\nLautstaerke=80\r\nStimme=Deutsch 2\r\nAusgabe=speechd\r\n", desktop},
        {"Tempo=schnell\r\nTonhoehe=101\r\nLautstaerke=-5\r\nAusgabe=laut\r\n", V{}},
        {"tempo= 450 \r\nTONHOEHE=0\r\nLautstaerke=7x\r\nAusgabe=SpeechD\r\n", V{450, 0, 100, "", V::Output::Desktop}},
        {"Tempo=79\r\nLautstaerke=0\r\nStimme=" + QByteArray(200, 'a') + "\r\n", V{175, 50, 0, QString(149, 'a')}},
    };
    for (const auto &[section, voice] : files) {
        const QByteArray file = shippedOptions() + (section.isEmpty() ? "" : "[stimme]\r\n" + section);
        FormFixture f(true, [&](platform::Services &s) {
            QFile out(s.dataFolder() + "/optionen.ini");
            ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        });
        EXPECT_EQ(f.form->heldVoice(), voice) << section.toStdString();
        EXPECT_EQ(f.page->voiceChanges, voice ? QList<V>{*voice} : QList<V>{}) << section.toStdString();
    }
    FormFixture f;
    Form1 &w = *f.form;
    w.formini().Command5->click();
    EXPECT_EQ(f.data.read("optionen.ini"), shippedOptions()) << "no voice of its own: none written";
    w.holdVoice(desktop);
    f.timer(4).fire();
    w.menuAction("Schnellerx")->trigger();
    EXPECT_EQ(w.Text4->text(), "neue optionen");
    f.answerYes = true;
    w.Fexit->click();
    EXPECT_EQ(f.data.read("optionen.ini"), shippedOptions() + "[stimme]\r\nTempo=325\r\nTonhoehe=60\r\n"
                                                           "Lautstaerke=80\r\nStimme=Deutsch 2\r\nAusgabe=speechd\r\n");
    w.formini().Command9->click();
    EXPECT_EQ(w.heldVoice(), (V{325, 60, 80, "Deutsch 2", V::Output::Desktop})) << "read back as saved";
    w.menuAction("StandartEinstellungx")->trigger();
    EXPECT_EQ(f.data.read("optionen.ini"), shippedOptions()) << "the nine lines, nothing more";
    EXPECT_EQ(f.page->current, V{});
    EXPECT_EQ(w.heldVoice(), std::nullopt);
}

TEST(Voice, EveryKeyAnswersWithTheNewValueInTheNewVoiceInWhicheverControlUpToItsLimit) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    const Qt::KeyboardModifiers none = Qt::NoModifier, shift = Qt::ShiftModifier;
    // Control, key, presses, what the last press says.
    const std::tuple<QWidget *, Qt::Key, Qt::KeyboardModifiers, int, const char *> presses[] = {
        {w.File1, Qt::Key_F6, none, 1, "Tempo 200 Wörter pro Minute"},
        {w.Text3, Qt::Key_F6, shift, 5, "Tempo 80 Wörter pro Minute, langsamer geht es nicht"},
        {w.Furl, Qt::Key_F6, shift, 1, "Tempo 80 Wörter pro Minute, langsamer geht es nicht"},
        {w.Command14, Qt::Key_F7, none, 4, "Tonhöhe 90 Prozent"},
        {w.Check1, Qt::Key_F7, none, 2, "Tonhöhe 100 Prozent, höher geht es nicht"},
        {w.Text3, Qt::Key_F7, shift, 1, "Tonhöhe 90 Prozent"},
        {w.File1, Qt::Key_F8, shift, 10, "Lautstärke 10 Prozent, leiser geht es nicht"},
        {w.Furl, Qt::Key_F8, none, 1, "Lautstärke 20 Prozent"},
        {w.File1, Qt::Key_F11, none, 1, "Stimme Deutsch"},
        {w.Text3, Qt::Key_F11, none, 2, "Stimme Deutsch"},
        {w.Furl, Qt::Key_F12, none, 1, "Sprachausgabe des Desktops gewählt"},
        {w.File1, Qt::Key_F11, none, 1, "Für diese Sprachausgabe ist keine andere Stimme bekannt"},
        {w.Fexit, Qt::Key_F12, none, 1, "Eingebaute Sprachausgabe gewählt"},
    };
    for (const auto &[control, key, modifiers, times, said] : presses) {
        control->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        const auto n = f.page->clicks.size();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(control, key, modifiers);
        const std::string row = control->objectName().toStdString() + " " + said;
        EXPECT_EQ(f.page->clicks.mid(n), QStringList(times, "user1")) << row;
        EXPECT_EQ(f.page->textFileAtClick.last(), kDirective + QString::fromUtf8(said).toLatin1()) << row;
        EXPECT_EQ(f.page->voiceAtClick.last(), f.page->current) << row << ": set before the click";
    }
    EXPECT_EQ(f.page->current, (V{80, 90, 20, "", V::Output::Embedded}));
    EXPECT_EQ(w.heldVoice(), f.page->current);
    w.Check2->setValue(0); // the buttons are no longer announced; the voice still answers, once
    const auto n = f.page->clicks.size();
    w.menuAction("Tieferx")->trigger();
    EXPECT_EQ(f.page->clicks.mid(n), QStringList{"user1"});
    EXPECT_EQ(f.page->textFileAtClick.last(), kDirective + "Tonh\xF6he 80 Prozent");
}
