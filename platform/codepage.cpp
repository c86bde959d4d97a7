#include "platform/codepage.h"

#include <QStringDecoder>
#include <array>

namespace lesemund::codepage {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks the bytes the code page leaves undefined.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t decodeByte(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F) {
        char16_t c = kHigh[b - 0x80];
        return c ? c : char16_t(b);
    }
    return char16_t(b);
}

} // namespace

QByteArray toAnsi(const QString &text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.append(char(c));
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k) {
            const char16_t table = kHigh[k] ? kHigh[k] : char16_t(0x80 + k);
            if (table == c) {
                mapped = char(0x80 + k);
                break;
            }
        }
        // A surrogate pair is one character outside the code page: one '?'.
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        out.append(mapped);
    }
    return out;
}

QString fromAnsi(const char *data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = QChar(decodeByte(static_cast<unsigned char>(data[i])));
    return out;
}

QString fromAnsi(const QByteArray &bytes) { return fromAnsi(bytes.constData(), bytes.size()); }

bool isValidUtf8(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

QString fromUtf8OrAnsi(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return fromAnsi(bytes);
}

} // namespace lesemund::codepage
