// The listener's voice: faster or slower, higher or lower, louder or
// quieter, another voice, the other speech output. Each change reaches the
// speech page first and is then announced, so the answer is already heard
// in the new voice.
#include "app/form1.h"

#include "platform/browsercontrol.h"

#include <algorithm>

namespace lesemund {

using speech::VoiceSettings;

namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

// Steps a listener hears clearly without needing many presses: 25 words per
// minute, a tenth of the pitch or the volume.
constexpr int kRateStep = 25;
constexpr int kPercentStep = 10;
// The keyboard never turns the voice quite off: a blind user would no
// longer hear the program answer, not even "Lauter".
constexpr int kQuietest = 10;

struct Dial {
    int VoiceSettings::*value;
    int low, high, step;
    const char *said;          // the value in words, %1 the number
    const char *top, *bottom;  // said at the limits
};

const Dial kDials[] = {
    {&VoiceSettings::rate, VoiceSettings::kMinRate, VoiceSettings::kMaxRate, kRateStep, "Tempo %1 Wörter pro Minute",
     "schneller geht es nicht", "langsamer geht es nicht"},
    {&VoiceSettings::pitch, VoiceSettings::kMinPercent, VoiceSettings::kMaxPercent, kPercentStep, "Tonhöhe %1 Prozent",
     "höher geht es nicht", "tiefer geht es nicht"},
    {&VoiceSettings::volume, kQuietest, VoiceSettings::kMaxPercent, kPercentStep, "Lautstärke %1 Prozent",
     "lauter geht es nicht", "leiser geht es nicht"},
};

// The next whole step up or down, within the limits; a value off the grid
// (from the options file) moves onto it, and never the wrong way.
int stepped(int value, int step, bool up, int low, int high) {
    value = std::max(value, 0);
    if (up)
        return std::max(value, std::min((value / step + 1) * step, high));
    return std::min(value, std::max((value + step - 1) / step * step - step, low));
}

} // namespace

VoiceSettings Form1::currentVoice() const {
    if (voice_)
        return *voice_;
    return services_.speechPage ? services_.speechPage->voice() : VoiceSettings{};
}

void Form1::holdVoice(const VoiceSettings &voice) {
    voice_ = voice;
    if (services_.speechPage)
        services_.speechPage->setVoice(voice);
}

void Form1::dropVoice() {
    voice_.reset();
    if (services_.speechPage)
        services_.speechPage->setVoice(VoiceSettings{});
}

void Form1::announceAlways(const QString &text) {
    Label1->setCaption(text);
    if (Check2->value() == 0)
        hilfelesen_Click();
}

void Form1::changeVoice(const VoiceSettings &voice, const QString &announcement) {
    if (voice != currentVoice()) {
        holdVoice(voice);
        Text4->setText(QStringLiteral("neue optionen"));
    }
    announceAlways(announcement);
}

void Form1::turnVoiceDial(int VoiceSettings::*value, bool up) {
    const Dial &dial = *std::find_if(std::begin(kDials), std::end(kDials),
                                     [&](const Dial &d) { return d.value == value; });
    VoiceSettings voice = currentVoice();
    const int before = voice.*value;
    const int now = stepped(before, dial.step, up, dial.low, dial.high);
    voice.*value = now;
    QString said = u(dial.said).arg(now);
    if (now == before || now == (up ? dial.high : dial.low))
        said += QStringLiteral(", ") + u(up ? dial.top : dial.bottom);
    changeVoice(voice, said);
}

void Form1::Schnellerx_Click() { turnVoiceDial(&VoiceSettings::rate, true); }
void Form1::Langsamerx_Click() { turnVoiceDial(&VoiceSettings::rate, false); }
void Form1::Hoeherx_Click() { turnVoiceDial(&VoiceSettings::pitch, true); }
void Form1::Tieferx_Click() { turnVoiceDial(&VoiceSettings::pitch, false); }
void Form1::Lauterx_Click() { turnVoiceDial(&VoiceSettings::volume, true); }
void Form1::Leiserx_Click() { turnVoiceDial(&VoiceSettings::volume, false); }

void Form1::Stimmewechselnx_Click() {
    VoiceSettings voice = currentVoice();
    const QStringList names =
        services_.speechPage ? services_.speechPage->voiceNames(voice.output) : QStringList();
    if (names.isEmpty()) {
        changeVoice(voice, u("Für diese Sprachausgabe ist keine andere Stimme bekannt"));
        return;
    }
    // The standard voice, or one the output no longer lists, goes to the first.
    const qsizetype at = names.indexOf(voice.voice);
    const QString next = names.at(at < 0 ? 0 : (at + 1) % names.size());
    QString said = u("Stimme ") + next;
    if (next == voice.voice)
        said += u(", eine andere gibt es nicht");
    voice.voice = next;
    changeVoice(voice, said);
}

void Form1::Sprachausgabewechselnx_Click() {
    VoiceSettings voice = currentVoice();
    const bool desktop = voice.output == VoiceSettings::Output::Embedded;
    voice.output = desktop ? VoiceSettings::Output::Desktop : VoiceSettings::Output::Embedded;
    voice.voice.clear(); // the names of one output mean nothing to the other
    // "gewählt" holds either way: when the desktop's speech cannot be
    // reached, the page says so in front of this answer, in its own voice.
    changeVoice(voice, desktop ? u("Sprachausgabe des Desktops gewählt")
                               : u("Eingebaute Sprachausgabe gewählt"));
}

} // namespace lesemund
