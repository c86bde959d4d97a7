#pragma once
// The voice directive that the speech files may carry in front of their text:
// "#voice=name:qvx.de.tonra#", also enclosed in double quotes. It is taken off
// before speaking and only chooses the language of the voice.
#include <QString>

#include <functional>

namespace lesemund::speech {

struct PreparedText {
    QString text;          // what is spoken, without the directive
    QString voiceName;     // the directive's value ("name:qvx.de.tonra"), empty without one
    bool hadDirective = false;
    bool ssml = false;     // the text (after the directive) begins with "<speak" or "<?xml"
};

// Takes every leading voice directive off `raw` (the first one names the
// voice). A directive without its closing '#' ends at the first white space.
PreparedText prepareSpeechText(const QString &raw);

// The language a voice name picks: the first of its parts, split at '.' and
// ':', that `isLanguage` accepts (compared in lower case); otherwise
// `fallback`.
QString languageForVoice(const QString &voiceName,
                         const std::function<bool(const QString &)> &isLanguage,
                         const QString &fallback = QStringLiteral("de"));

} // namespace lesemund::speech
