#pragma once
// The browser control of the main window, served by the program's own speech
// page host: navigating reads the speech page and starts the speech engine,
// clicking a button of the page's first form runs its speech command. The
// data folder is the folder of the page.
#include "platform/browsercontrol.h"

#include "platform/desktopspeech.h"

#include <memory>
#include <optional>

namespace lesemund::speech {

class SpeechPage;
class SpeechEngine;

class SpeechPageHost : public platform::BrowserControl {
public:
    // The pages reach the desktop's speech through connections `desktop`
    // makes; by default speech-dispatcher at the session's address, started
    // when it is not running.
    explicit SpeechPageHost(platform::DesktopSpeechFactory desktop = {});
    ~SpeechPageHost() override;

    // Loads the page at once (it is a small local file) so that the first
    // announcement after start-up is not lost; the speech engine starts on
    // its own threads and never holds up the caller. A page that cannot be
    // read or has no form leaves the host without a page. Navigating again
    // silences and replaces the previous page.
    void navigate(const QString &path) override;

    // Returns at once; the speech follows on the engine's threads.
    bool clickButton(const QString &name) override;

    bool isLoaded() const override;
    // The listener's choice once setVoice was called (also when the desktop's
    // speech it asks for cannot be reached), before that the page's own.
    VoiceSettings voice() const override;
    // Also applies to pages navigated to later.
    void setVoice(const VoiceSettings &voice) override;
    QStringList voiceNames(VoiceSettings::Output output) const override;

    // The loaded page's engine, for tests and the benchmark; null without a page.
    SpeechEngine *engine() const;
    // The loaded page, null without one.
    SpeechPage *page() const { return page_.get(); }

private:
    platform::DesktopSpeechFactory desktop_;
    std::unique_ptr<SpeechPage> page_;
    std::optional<VoiceSettings> chosen_;
};

} // namespace lesemund::speech
