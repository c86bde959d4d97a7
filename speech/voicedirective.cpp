#include "speech/voicedirective.h"

#include <QRegularExpression>

namespace lesemund::speech {

namespace {

const QString kDirective = QStringLiteral("#voice=");

qsizetype skipLeadingSpace(const QString &s, qsizetype i) {
    while (i < s.size() && (s[i].isSpace() || s[i] == QChar(0xFEFF)))
        ++i;
    return i;
}

} // namespace

PreparedText prepareSpeechText(const QString &raw) {
    PreparedText result;
    QString rest = raw;
    for (;;) {
        qsizetype i = skipLeadingSpace(rest, 0);
        const bool quoted = i < rest.size() && rest[i] == u'"'
                            && QStringView(rest).mid(i + 1).startsWith(kDirective, Qt::CaseInsensitive);
        if (quoted)
            ++i;
        if (!QStringView(rest).mid(i).startsWith(kDirective, Qt::CaseInsensitive))
            break;
        const qsizetype valueStart = i + kDirective.size();
        qsizetype end = rest.indexOf(u'#', valueStart);
        qsizetype after;
        if (end < 0) {
            end = valueStart;
            while (end < rest.size() && !rest[end].isSpace())
                ++end;
            after = end;
        } else {
            after = end + 1;
        }
        const QString value = rest.mid(valueStart, end - valueStart);
        if (quoted && after < rest.size() && rest[after] == u'"')
            ++after;
        if (!result.hadDirective)
            result.voiceName = value.trimmed();
        result.hadDirective = true;
        rest = rest.mid(after);
    }
    const qsizetype start = skipLeadingSpace(rest, 0);
    const QStringView body = QStringView(rest).mid(start);
    result.ssml = body.startsWith(u"<speak", Qt::CaseInsensitive)
                  || body.startsWith(u"<?xml", Qt::CaseInsensitive);
    result.text = rest;
    return result;
}

QString languageForVoice(const QString &voiceName,
                         const std::function<bool(const QString &)> &isLanguage,
                         const QString &fallback) {
    static const QRegularExpression separators(QStringLiteral("[.:]"));
    const QStringList parts = voiceName.split(separators, Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString candidate = part.trimmed().toLower();
        if (!candidate.isEmpty() && isLanguage && isLanguage(candidate))
            return candidate;
    }
    return fallback;
}

} // namespace lesemund::speech
