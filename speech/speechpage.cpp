#include "speech/speechpage.h"

#include "docreaders/filehead.h"

#include "docreaders/codepage.h"
#include "speech/htmlform.h"
#include "speech/pulsesink.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lesemund::speech {

std::optional<PageButton> knownButton(const QString &name) {
    static const QHash<QString, PageButton> buttons = {
        {QStringLiteral("user1"), {PageCommand::SpeakNow, QStringLiteral("text.txt")}},
        {QStringLiteral("user2"), {PageCommand::Queue, QStringLiteral("text.txt")}},
        {QStringLiteral("fenster1"), {PageCommand::SpeakNow, QStringLiteral("fenster.txt")}},
        {QStringLiteral("Hilfe"), {PageCommand::SpeakNow, QStringLiteral("fenster.txt")}},
        {QStringLiteral("Sprech"), {PageCommand::SpeakNow, QStringLiteral("hilfe.txt")}},
        {QStringLiteral("pause"), {PageCommand::Pause, {}}},
        {QStringLiteral("Weiter"), {PageCommand::Resume, {}}},
        {QStringLiteral("Stop"), {PageCommand::Stop, {}}},
        {QStringLiteral("Nochmal"), {PageCommand::Repeat, {}}},
    };
    const auto it = buttons.constFind(name);
    if (it == buttons.constEnd())
        return std::nullopt;
    return *it;
}

namespace {

QString resolve(const QString &dataFolder, const QString &path) {
    if (path.isEmpty())
        return dataFolder;
    return QDir::cleanPath(QDir(dataFolder).absoluteFilePath(path));
}

} // namespace

std::optional<PageSettings> readPageSettings(const QString &html, const QString &dataFolder) {
    const std::optional<HtmlForm> form = firstHtmlForm(html);
    if (!form)
        return std::nullopt;
    PageSettings settings;
    const QString output = form->attributes.value(QStringLiteral("data-output")).trimmed();
    if (output.compare(QStringLiteral("none"), Qt::CaseInsensitive) == 0) {
        settings.output = PageSettings::Output::None;
    } else if (output.compare(QStringLiteral("speechd"), Qt::CaseInsensitive) == 0) {
        settings.output = PageSettings::Output::Speechd;
    } else if (output.startsWith(QStringLiteral("wav:"), Qt::CaseInsensitive)) {
        settings.output = PageSettings::Output::Wav;
        settings.wavFolder = resolve(dataFolder, output.mid(4).trimmed());
    }
    const QString journal = form->attributes.value(QStringLiteral("data-journal")).trimmed();
    if (!journal.isEmpty())
        settings.journalPath = resolve(dataFolder, journal);
    for (const QString &name : form->clickableNames()) {
        if (knownButton(name))
            settings.buttons.append(name);
    }
    return settings;
}

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes) {
    const std::optional<docreaders::FileHead> head = docreaders::readFileHead(path, maxBytes);
    if (!head)
        return std::nullopt;
    return head->bytes;
}

QByteArray journalLine(const QString &time, const QString &button, const QString &text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return (time + QLatin1Char('\t') + button + QLatin1Char('\t') + escaped + QLatin1Char('\n')).toUtf8();
}

std::unique_ptr<SpeechPage> SpeechPage::load(const QString &path, platform::DesktopSpeechFactory desktop) {
    const std::optional<QByteArray> bytes = readRegularFile(path, kMaxPageBytes);
    if (!bytes)
        return nullptr;
    const QString dataFolder = QFileInfo(path).absolutePath();
    std::optional<PageSettings> settings =
        readPageSettings(codepage::fromUtf8OrAnsi(*bytes), dataFolder);
    if (!settings)
        return nullptr;
    std::unique_ptr<AudioSink> sink;
    switch (settings->output) {
    case PageSettings::Output::Sound:
    case PageSettings::Output::Speechd:
        sink = std::make_unique<PulseSink>();
        break;
    case PageSettings::Output::Wav:
        sink = std::make_unique<WavFileSink>(settings->wavFolder);
        break;
    case PageSettings::Output::None:
        sink = std::make_unique<SilentSink>();
        break;
    }
    return std::make_unique<SpeechPage>(dataFolder, std::move(*settings), std::move(sink), std::move(desktop));
}

namespace {

VoiceSettings pageVoice(const PageSettings &settings) {
    VoiceSettings voice;
    if (settings.output == PageSettings::Output::Speechd)
        voice.output = VoiceSettings::Output::Desktop;
    return voice;
}

} // namespace

SpeechPage::SpeechPage(QString dataFolder, PageSettings settings, std::unique_ptr<AudioSink> sink,
                       platform::DesktopSpeechFactory desktop)
    : dataFolder_(std::move(dataFolder)), settings_(std::move(settings)),
      engine_(std::make_unique<SpeechEngine>(std::move(sink), pageVoice(settings_), std::move(desktop))) {
    for (const QString &name : settings_.buttons) {
        if (const std::optional<PageButton> button = knownButton(name))
            buttons_.insert(name, *button);
    }
}

SpeechPage::~SpeechPage() = default;

bool SpeechPage::click(const QString &name) {
    const auto it = buttons_.constFind(name);
    if (it == buttons_.constEnd())
        return false;
    const PageButton button = *it;
    const QDateTime clicked =
        settings_.journalPath.isEmpty() ? QDateTime() : QDateTime::currentDateTime();
    // The file is read now, as the writer left it; decoding waits for the
    // engine's worker unless the journal needs the text.
    SpeechText text;
    if (!button.file.isEmpty()) {
        if (std::optional<QByteArray> bytes =
                readRegularFile(dataFolder_ + QLatin1Char('/') + button.file, kMaxTextBytes))
            text = SpeechText::fromAnsi(std::move(*bytes));
    }
    if (!settings_.journalPath.isEmpty()) {
        text = text.toString();
        writeJournal(clicked, name, text.toString());
    }
    switch (button.command) {
    case PageCommand::SpeakNow:
        engine_->speakNow(text);
        break;
    case PageCommand::Queue:
        engine_->enqueue(text);
        break;
    case PageCommand::Pause:
        engine_->pause();
        break;
    case PageCommand::Resume:
        engine_->resume();
        break;
    case PageCommand::Stop:
        engine_->stop();
        break;
    case PageCommand::Repeat:
        engine_->repeat();
        break;
    }
    return true;
}

void SpeechPage::writeJournal(const QDateTime &clicked, const QString &button, const QString &text) {
    const QString time = clicked.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    const QByteArray line = journalLine(time, button, text);
    const QByteArray path = QFile::encodeName(settings_.journalPath);
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const char *p = line.constData();
        qsizetype left = line.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= n;
        }
    }
    ::close(fd);
}

} // namespace lesemund::speech
