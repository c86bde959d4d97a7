#include "docreaders/codepage.h"

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
    // Strict: no overlong forms, no surrogates, nothing above U+10FFFF and
    // no sequence cut off at the end.
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k < len; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        i += len;
    }
    return true;
}

QString fromUtf8OrAnsi(const QByteArray &bytes) {
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return fromAnsi(bytes);
}

} // namespace lesemund::codepage
