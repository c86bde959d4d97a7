#pragma once
// Readable Qt strings in failure messages; doubles for the speech page and
// the desktop's programs.
#include "platform/browsercontrol.h"
#include "platform/browserlauncher.h"
#include "platform/shellopener.h"
#include "support/manualtimer.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }

namespace lesemund::testing {

// Records the clicks on a page that exists, the only kind the real control loads.
// Keeps the speech files as they were at each click.
struct FakeBrowserControl : platform::BrowserControl {
    void navigate(const QString &path) override {
        loaded = QFileInfo::exists(path);
        folder = QFileInfo(path).path();
    }
    bool clickButton(const QString &name) override {
        if (loaded) {
            clicks << name;
            textFileAtClick << slurp("/text.txt");
            windowFileAtClick << slurp("/fenster.txt");
            voiceAtClick << current;
        }
        return loaded;
    }
    bool isLoaded() const override { return loaded; }
    speech::VoiceSettings voice() const override { return current; }
    void setVoice(const speech::VoiceSettings &v) override { current = v; voiceChanges << v; }
    QStringList voiceNames(speech::VoiceSettings::Output output) const override {
        return output == speech::VoiceSettings::Output::Desktop ? desktopVoices : embeddedVoices;
    }
    QByteArray slurp(const QString &name) const {
        QFile f(folder + name); // a pipe in place of the file is not opened
        return QFileInfo(f).isFile() && f.open(QFile::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool loaded = false;
    QString folder;
    QStringList clicks;
    QList<QByteArray> textFileAtClick, windowFileAtClick;
    speech::VoiceSettings current;
    QList<speech::VoiceSettings> voiceChanges, voiceAtClick;
    QStringList embeddedVoices{QStringLiteral("Deutsch"), QStringLiteral("Deutsch 2")};
    QStringList desktopVoices;
};

struct RecordingShellOpener : platform::ShellOpener {
    bool open(const QString &target) override { opened << target; return true; }
    QStringList opened;
};

struct RecordingBrowserLauncher : platform::BrowserLauncher {
    bool openNewWindow(const QString &url) override { opened << url; return available; }
    QStringList opened;
    bool available = true;
};

} // namespace lesemund::testing
