#pragma once
// The speech page: the HTML page "sp" of the data folder whose first form
// declares the buttons the program clicks to speak. Loading it binds each
// declared button to a command of the speech engine; the form's attributes
// choose where the speech goes (data-output) and whether every click is
// written to a journal (data-journal).
#include "speech/speechengine.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace lesemund::speech {

enum class PageCommand {
    SpeakNow,   // cut off, then speak the command's file
    Queue,      // speak the command's file after what is queued
    Pause,
    Resume,
    Stop,
    Repeat,
};

struct PageButton {
    PageCommand command;
    QString file; // the speech file read at the click ("text.txt"), empty for none
};

// The nine buttons the program knows, by name: user1, user2, fenster1, Hilfe,
// Sprech, pause, Weiter, Stop, Nochmal.
std::optional<PageButton> knownButton(const QString &name);

struct PageSettings {
    // Speechd: the desktop's speech (speech-dispatcher), with the sound
    // server as the embedded voice's output when it cannot be reached.
    enum class Output { Sound, Wav, None, Speechd };
    Output output = Output::Sound;
    QString wavFolder;     // absolute, for Output::Wav
    QString journalPath;   // absolute, empty for no journal
    QStringList buttons;   // the declared names the program knows, in form order
};

// The settings of the page text `html` in data folder `dataFolder`; nothing
// when the text holds no form. data-output: "sound" (also when missing or
// unknown), "wav:FOLDER" (relative to the data folder; no folder: the data
// folder itself), "none" or "speechd"; data-journal: a file name, relative
// to the data folder.
std::optional<PageSettings> readPageSettings(const QString &html, const QString &dataFolder);

// The bytes of a regular file, at most `maxBytes` of them; nothing when the
// path names no regular file (a folder, a FIFO, a device) or cannot be read.
// Never blocks on a special file.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes);

// A journal line: time, TAB, button, TAB, text with CR and LF written as
// \r and \n, then LF. UTF-8.
QByteArray journalLine(const QString &time, const QString &button, const QString &text);

class SpeechPage {
public:
    // Loads the page at `path`; nothing when it cannot be read or holds no
    // form. The engine starts on its own threads and reaches the desktop's
    // speech through `desktop`.
    static std::unique_ptr<SpeechPage> load(const QString &path, platform::DesktopSpeechFactory desktop = {});

    // A page with the given settings and an engine speaking into `sink`
    // (tests give sinks of their own).
    SpeechPage(QString dataFolder, PageSettings settings, std::unique_ptr<AudioSink> sink,
               platform::DesktopSpeechFactory desktop = {});
    ~SpeechPage();

    // Clicks a declared button: reads its speech file, writes the journal
    // line and hands the command to the engine. False for a name the page
    // does not declare or the program does not know; then nothing happens.
    bool click(const QString &name);

    SpeechEngine &engine() { return *engine_; }
    const PageSettings &settings() const { return settings_; }
    QString dataFolder() const { return dataFolder_; }

    // Speech files larger than this are read only up to it.
    static constexpr qint64 kMaxTextBytes = 8 * 1024 * 1024;
    // Pages larger than this are read only up to it.
    static constexpr qint64 kMaxPageBytes = 1024 * 1024;

private:
    void writeJournal(const QDateTime &clicked, const QString &button, const QString &text);

    QString dataFolder_;
    PageSettings settings_;
    QHash<QString, PageButton> buttons_;
    std::unique_ptr<SpeechEngine> engine_;
};

} // namespace lesemund::speech
