#pragma once
// Helpers of the speech tests: a speech page of the test's own in a copied
// data folder, WAV files read back, waiting with a deadline.
#include "platform/speechpagehost.h"
#include "speech/speechengine.h"
#include "support/tempdatafolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <ostream>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace lesemund::testing {

inline const QStringList kAllButtons = {"user1", "user2", "fenster1", "Hilfe", "Sprech",
                                        "pause", "Weiter", "Stop", "Nochmal"};

// A page whose first form has `formAttributes` and declares `buttons`.
inline QByteArray speechPage(const QString &formAttributes, const QStringList &buttons = kAllButtons) {
    QString html = "<!DOCTYPE html>\n<html><head><title>Prüfseite</title></head><body>\n<form "
                   + formAttributes + ">\n";
    for (const QString &name : buttons)
        html += "<input type=\"button\" name=\"" + name + "\" value=\"" + name + "\">\n";
    html += "</form>\n</body></html>\n";
    return html.toUtf8();
}

inline bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The WAV files of a folder, by name.
inline QStringList wavFiles(const QString &folder) {
    return QDir(folder).entryList({"*.wav"}, QDir::Files, QDir::Name);
}

// Samples in a WAV file as its size says (the header is 44 bytes).
inline qint64 wavSamples(const QString &path) {
    const qint64 size = QFileInfo(path).size();
    return size < 44 ? 0 : (size - 44) / 2;
}

// Samples in a WAV file as its header says; -1 for a broken header.
inline qint64 wavHeaderSamples(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray header = f.read(44);
    if (header.size() < 44 || !header.startsWith("RIFF") || header.mid(8, 8) != "WAVEfmt "
        || header.mid(36, 4) != "data")
        return -1;
    const auto le32 = [&header](int at) {
        return quint32(quint8(header[at])) | quint32(quint8(header[at + 1])) << 8
               | quint32(quint8(header[at + 2])) << 16 | quint32(quint8(header[at + 3])) << 24;
    };
    return le32(40) / 2;
}

// Records what the engine reports, for the test thread to look at.
class EngineLog {
public:
    speech::EngineObserver observer() {
        speech::EngineObserver o;
        o.synthesisStarted = [this](const speech::UtteranceInfo &info) {
            std::lock_guard lock(m_);
            started_.push_back(info);
            cv_.notify_all();
        };
        o.firstSample = [this](std::uint64_t, std::chrono::steady_clock::time_point) {
            std::lock_guard lock(m_);
            ++firstSamples_;
            cv_.notify_all();
        };
        return o;
    }
    std::vector<speech::UtteranceInfo> started() const {
        std::lock_guard lock(m_);
        return started_;
    }
    int firstSamples() const {
        std::lock_guard lock(m_);
        return firstSamples_;
    }
    bool waitStarted(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return started_.size() >= count; });
    }
    bool waitFirstSamples(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return firstSamples_ >= count; });
    }

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<speech::UtteranceInfo> started_;
    int firstSamples_ = 0;
};

} // namespace lesemund::testing
