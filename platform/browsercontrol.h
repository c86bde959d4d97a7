#pragma once
// The embedded browser control `WebBrowser1` as the main window uses it:
// navigate to the local speech page and click a named button of its first
// form. Clicking is the only call; nothing comes back to the caller.
#include "speech/voicesettings.h"

#include <QString>
#include <QStringList>

namespace lesemund::platform {

class BrowserControl {
public:
    virtual ~BrowserControl() = default;

    // Starts loading the page at `path`. Never waits for the page; a page
    // that cannot be read leaves the control without a page.
    virtual void navigate(const QString &path) = 0;

    // Clicks the button `name` of the loaded page's first form. A name the
    // form lacks, a page that is not loaded or no page at all: nothing
    // happens and nothing is reported (the result only serves tests).
    virtual bool clickButton(const QString &name) = 0;

    virtual bool isLoaded() const = 0;

    // The voice the page speaks with now: the page's own choice until
    // setVoice is called.
    virtual speech::VoiceSettings voice() const = 0;
    // Applies `voice` from the next text on. Returns at once: the desktop's
    // speech is reached on the page's own threads; when it cannot be reached
    // the page says so once and goes on with its embedded voice.
    virtual void setVoice(const speech::VoiceSettings &voice) = 0;
    // The names of the voices `output` offers, German voices only when there
    // are any, as far as known now (the desktop's voices are known once it
    // has been reached); empty when none are known.
    virtual QStringList voiceNames(speech::VoiceSettings::Output output) const = 0;
};

} // namespace lesemund::platform
