#pragma once
// The listener's voice: how fast, how high and how loud the speech is, which
// voice speaks and which speech output produces it. The main window keeps
// these settings and hands them to its browser control; the speech page
// applies them from the next text on.
#include <QString>

namespace lesemund::speech {

struct VoiceSettings {
    // Which speech output speaks: the program's own espeak-ng voice, or the
    // desktop's speech (speech-dispatcher) with the user's own voices.
    enum class Output { Embedded, Desktop };

    // Words per minute.
    static constexpr int kMinRate = 80;
    static constexpr int kMaxRate = 450;
    static constexpr int kDefaultRate = 175;
    // Pitch and volume in percent.
    static constexpr int kMinPercent = 0;
    static constexpr int kMaxPercent = 100;
    static constexpr int kDefaultPitch = 50;
    static constexpr int kDefaultVolume = 100;

    int rate = kDefaultRate;
    int pitch = kDefaultPitch;
    int volume = kDefaultVolume;
    QString voice; // a name the output lists; empty for the output's standard voice
    Output output = Output::Embedded;

    bool operator==(const VoiceSettings &) const = default;
};

} // namespace lesemund::speech
