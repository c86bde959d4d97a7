#include "speech/speechpagehost.h"

#include "speech/speechengine.h"
#include "speech/speechpage.h"

#include <QUrl>

namespace lesemund::speech {

SpeechPageHost::SpeechPageHost(platform::DesktopSpeechFactory desktop) : desktop_(std::move(desktop)) {
    if (!desktop_)
        desktop_ = [] { return platform::makeSpeechDispatcher(); };
}

SpeechPageHost::~SpeechPageHost() = default;

void SpeechPageHost::navigate(const QString &path) {
    page_.reset();
    QString file = path;
    if (file.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive))
        file = QUrl(file).toLocalFile();
    if (file.isEmpty())
        return;
    page_ = SpeechPage::load(file, desktop_);
    if (page_ && chosen_)
        page_->engine().setVoice(*chosen_);
}

bool SpeechPageHost::clickButton(const QString &name) {
    return page_ && page_->click(name);
}

bool SpeechPageHost::isLoaded() const { return page_ != nullptr; }

VoiceSettings SpeechPageHost::voice() const {
    if (chosen_)
        return *chosen_;
    return page_ ? page_->engine().voice() : VoiceSettings();
}

void SpeechPageHost::setVoice(const VoiceSettings &voice) {
    chosen_ = voice;
    if (page_)
        page_->engine().setVoice(voice);
}

QStringList SpeechPageHost::voiceNames(VoiceSettings::Output output) const {
    if (page_)
        return page_->engine().voiceNames(output);
    // Without a page the embedded voices are known all the same.
    return output == VoiceSettings::Output::Embedded ? SpeechEngine::embeddedVoiceNames() : QStringList();
}

SpeechEngine *SpeechPageHost::engine() const {
    return page_ ? &page_->engine() : nullptr;
}

} // namespace lesemund::speech
