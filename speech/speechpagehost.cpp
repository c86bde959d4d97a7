#include "speech/speechpagehost.h"

#include "speech/speechpage.h"

#include <QUrl>

namespace lesemund::speech {

SpeechPageHost::SpeechPageHost() = default;

SpeechPageHost::~SpeechPageHost() = default;

void SpeechPageHost::navigate(const QString &path) {
    page_.reset();
    QString file = path;
    if (file.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive))
        file = QUrl(file).toLocalFile();
    if (file.isEmpty())
        return;
    page_ = SpeechPage::load(file);
}

bool SpeechPageHost::clickButton(const QString &name) {
    return page_ && page_->click(name);
}

bool SpeechPageHost::isLoaded() const { return page_ != nullptr; }

VoiceSettings SpeechPageHost::voice() const { return voice_; }

void SpeechPageHost::setVoice(const VoiceSettings &voice) { voice_ = voice; }

QStringList SpeechPageHost::voiceNames(VoiceSettings::Output) const { return {}; }

SpeechEngine *SpeechPageHost::engine() const {
    return page_ ? &page_->engine() : nullptr;
}

} // namespace lesemund::speech
