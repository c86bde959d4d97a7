#include "platform/httpclient.h"

#include "docreaders/codepage.h"

#include <QList>
#include <QStringDecoder>

namespace lesemund::platform {
namespace {

// Number of bytes at the end of `bytes` that begin a UTF-8 character but
// stop before its end (0 to 3).
qsizetype partialUtf8Tail(const QByteArray &bytes) {
    const qsizetype size = bytes.size();
    qsizetype pos = size;
    // Step back over at most three continuation bytes to the lead byte.
    while (pos > 0 && size - pos < 3 && (static_cast<unsigned char>(bytes[pos - 1]) & 0xC0) == 0x80)
        --pos;
    if (pos == 0)
        return 0;
    const unsigned char lead = static_cast<unsigned char>(bytes[pos - 1]);
    qsizetype expected = 0;
    if ((lead & 0xE0) == 0xC0)
        expected = 2;
    else if ((lead & 0xF0) == 0xE0)
        expected = 3;
    else if ((lead & 0xF8) == 0xF0)
        expected = 4;
    else
        return 0;
    const qsizetype present = size - (pos - 1);
    return present < expected ? present : 0;
}

} // namespace

bool contentTypeSaysUtf8(const QByteArray &contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts[i].trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq < 0 || param.left(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = param.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2).trimmed();
        value = value.toLower();
        return value == "utf-8" || value == "utf8";
    }
    return false;
}

QString decodeHttpBody(const QByteArray &body, const QByteArray &contentType, bool truncated) {
    QByteArray whole = body;
    if (truncated)
        whole.chop(partialUtf8Tail(body));
    if (contentTypeSaysUtf8(contentType))
        return QString::fromUtf8(whole);
    // One pass decodes and validates; the decoded text must be taken from
    // the decoder before it can tell whether there was an error.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(whole);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: every byte is one Windows-1252 character, the last one too.
    return codepage::fromAnsi(body);
}

QString HttpResult::text() const { return decodeHttpBody(body, contentType, truncated); }

} // namespace lesemund::platform
