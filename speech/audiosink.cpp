#include "speech/audiosink.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lesemund::speech {

namespace {

void putLe16(unsigned char *p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void putLe32(unsigned char *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool writeAll(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAt(int fd, const void *data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
}

} // namespace

WavFileSink::WavFileSink(QString folder) : folder_(std::move(folder)) {}

WavFileSink::~WavFileSink() { closeFile(); }

QString WavFileSink::fileName(int number) {
    return QStringLiteral("%1.wav").arg(number, 4, 10, QLatin1Char('0'));
}

bool WavFileSink::open(int sampleRate) {
    if (!QDir().mkpath(folder_))
        return false;
    sampleRate_ = sampleRate;
    static const QRegularExpression numbered(QStringLiteral("^(\\d+)\\.wav$"));
    int highest = 0;
    const QStringList names = QDir(folder_).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const auto match = numbered.match(name);
        if (match.hasMatch())
            highest = std::max(highest, match.captured(1).toInt());
    }
    nextNumber_ = highest + 1;
    open_ = true;
    return true;
}

void WavFileSink::close() {
    closeFile();
    open_ = false;
}

void WavFileSink::beginUtterance() {
    closeFile();
    if (!open_)
        return;
    const QByteArray path = QFile::encodeName(folder_ + QLatin1Char('/') + fileName(nextNumber_++));
    fd_ = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0)
        return;
    dataBytes_ = 0;
    unsigned char header[44] = {};
    std::memcpy(header, "RIFF", 4);
    putLe32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16);
    putLe16(header + 20, 1);                                      // PCM
    putLe16(header + 22, 1);                                      // mono
    putLe32(header + 24, static_cast<std::uint32_t>(sampleRate_));
    putLe32(header + 28, static_cast<std::uint32_t>(sampleRate_) * 2);
    putLe16(header + 32, 2);
    putLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    putLe32(header + 40, 0);
    if (!writeAll(fd_, header, sizeof header))
        closeFile();
}

bool WavFileSink::write(const int16_t *samples, std::size_t count) {
    if (fd_ < 0 || count == 0)
        return true; // a file that could not be made loses its speech, nothing more
    const std::size_t bytes = count * sizeof(int16_t);
    if (!writeAll(fd_, samples, bytes)) {
        closeFile();
        return true;
    }
    dataBytes_ += static_cast<std::uint32_t>(bytes);
    unsigned char size[4];
    putLe32(size, 36 + dataBytes_);
    writeAt(fd_, size, 4, 4);
    putLe32(size, dataBytes_);
    writeAt(fd_, size, 4, 40);
    return true;
}

void WavFileSink::endUtterance(bool) { closeFile(); }

void WavFileSink::closeFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace lesemund::speech
