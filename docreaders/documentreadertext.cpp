#include "docreaders/documentreadertext.h"

#include "docreaders/codepage.h"
#include "docreaders/filehead.h"

#include <QFile>

#include <array>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lesemund::docreaders {

QString unreadableDocumentText(Unreadable why) {
    switch (why) {
    case Unreadable::Protected: return QStringLiteral("Dieses Dokument ist geschützt.\r");
    case Unreadable::NoText: return QStringLiteral("Dieses Dokument enthält keinen Text.\r");
    case Unreadable::TooBig: return QStringLiteral("Dieses Dokument ist zu groß zum Lesen.\r");
    case Unreadable::Damaged: break;
    }
    return QStringLiteral("Dieses Dokument ist beschädigt.\r");
}

QString documentTruncationNotice() {
    return QStringLiteral("[Der Text wurde nach 5 Millionen Zeichen abgeschnitten.]");
}

// ---------------------------------------------------------------------------
// DocumentTextBuilder

DocumentTextBuilder::DocumentTextBuilder(qsizetype limit) : limit_(limit < 1 ? 1 : limit) {}

void DocumentTextBuilder::checkLimit() {
    if (text_.size() + paragraph_.size() > limit_)
        full_ = true;
}

void DocumentTextBuilder::append(QChar c) {
    if (full_)
        return;
    paragraph_.append(c);
    checkLimit();
}

void DocumentTextBuilder::append(QStringView text) {
    if (full_)
        return;
    paragraph_.append(text);
    checkLimit();
}

void DocumentTextBuilder::setListLabel(const QString &label, int level) {
    label_ = label;
    labelLevel_ = level < 0 ? 0 : (level > 8 ? 8 : level);
}

void DocumentTextBuilder::setBulletLabel(int level) {
    static const char16_t kBullets[3] = {0x2022, 0x25E6, 0x25AA};
    setListLabel(QString(QChar(kBullets[std::max(level, 0) % 3])), level);
}

void DocumentTextBuilder::flushParagraph() {
    if (!label_.isEmpty()) {
        text_.append(QString(4 * (labelLevel_ + 1), QLatin1Char(' ')));
        text_.append(label_);
        text_.append(QLatin1Char(' '));
    }
    text_.append(paragraph_);
    text_.append(QChar(13));
    paragraph_.clear();
    label_.clear();
    labelLevel_ = 0;
}

void DocumentTextBuilder::endParagraph() {
    if (full_)
        return;
    flushParagraph();
    checkLimit();
}

void DocumentTextBuilder::endParagraphIfNotEmpty() {
    if (!paragraph_.isEmpty())
        endParagraph();
}

QString DocumentTextBuilder::finish() {
    const bool cut = cut_ || full_;
    // An open paragraph with content still goes in; a cut follows it.
    if (!paragraph_.isEmpty())
        flushParagraph();
    if (text_.isEmpty() && !cut)
        text_ = QString(QChar(13));
    QString result = std::move(text_);
    text_.clear();
    full_ = false;
    if (cut || result.size() > limit_)
        return cutDocumentText(std::move(result), limit_);
    return result;
}

QString cutDocumentText(QString text, qsizetype limit) {
    if (limit < 1)
        limit = 1;
    if (text.size() > limit) {
        qsizetype n = limit;
        if (text.at(n - 1).isHighSurrogate())
            --n;
        text.truncate(n);
    }
    if (!text.isEmpty() && text.back() != QChar(13))
        text.append(QChar(13));
    text.append(documentTruncationNotice());
    text.append(QChar(13));
    return text;
}

// ---------------------------------------------------------------------------
// List numbers

QString romanNumber(int n, bool upper) {
    if (n <= 0 || n >= 4000)
        return QString::number(n);
    static const std::array<std::pair<int, const char *>, 13> kParts = {{
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"},
        {50, "l"}, {40, "xl"}, {10, "x"}, {9, "ix"}, {5, "v"}, {4, "iv"}, {1, "i"}}};
    QString out;
    for (const auto &[value, text] : kParts)
        while (n >= value) {
            out += QLatin1String(text);
            n -= value;
        }
    return upper ? out.toUpper() : out;
}

QString letterNumber(int n, bool upper) {
    if (n <= 0)
        return QString::number(n);
    // A..Z, then AA..ZZ, AAA.. (the letter repeated), as word processors count.
    const int repeat = (n - 1) / 26 + 1;
    const QChar letter = QChar(char16_t((upper ? 'A' : 'a') + (n - 1) % 26));
    return QString(std::min(repeat, 10), letter);
}

// ---------------------------------------------------------------------------
// Code pages

namespace {

const char *iconvName(int codePage) {
    switch (codePage) {
    case 437: return "CP437";
    case 850: return "CP850";
    case 852: return "CP852";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    case 20866: return "KOI8-R";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28605: return "ISO-8859-15";
    default: return nullptr;
    }
}

} // namespace

QString decodeCodePage(const QByteArray &bytes, int codePage) {
    const char *name = iconvName(codePage);
    if (!name || bytes.isEmpty())
        return codepage::fromAnsi(bytes);
    iconv_t cd = iconv_open("UTF-16LE", name);
    if (cd == iconv_t(-1))
        return codepage::fromAnsi(bytes);
    QString out;
    out.reserve(bytes.size());
    QByteArray buffer(4096, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    auto flush = [&](size_t used) {
        out.append(QStringView(reinterpret_cast<const char16_t *>(buffer.constData()),
                               qsizetype(used / 2)));
    };
    while (inLeft > 0) {
        char *dst = buffer.data();
        size_t dstLeft = size_t(buffer.size());
        const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        flush(size_t(buffer.size()) - dstLeft);
        if (r == size_t(-1)) {
            if (errno == E2BIG)
                continue;
            // An undefined or cut-off sequence: one replacement character,
            // then on with the next byte.
            out.append(QChar(QChar::ReplacementCharacter));
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

// ---------------------------------------------------------------------------
// Plain text

QString plainTextToParagraphs(QStringView text, qsizetype limit, bool moreFollows) {
    DocumentTextBuilder builder(limit);
    const qsizetype n = text.size();
    qsizetype start = 0;
    qsizetype i = 0;
    bool endedByLineEnd = false;
    while (i < n && !builder.full()) {
        const char16_t c = text[i].unicode();
        if (c == 13 || c == 10) {
            builder.append(text.mid(start, i - start));
            builder.endParagraph();
            if (c == 13 && i + 1 < n && text[i + 1].unicode() == 10)
                ++i;
            ++i;
            start = i;
            endedByLineEnd = true;
            continue;
        }
        endedByLineEnd = false;
        ++i;
        // Long lines go into the builder in pieces so that the limit is
        // noticed without copying the whole rest first.
        if (i - start >= 65536) {
            builder.append(text.mid(start, i - start));
            start = i;
        }
    }
    if (!builder.full()) {
        if (start < n)
            builder.append(text.mid(start, n - start));
        // Text after the last line end is a last paragraph and gets its mark;
        // so does an empty text. A text ending with a line end has no empty
        // paragraph after it. When more follows, the open paragraph is cut.
        if (!endedByLineEnd && !moreFollows)
            builder.endParagraph();
    }
    if (moreFollows)
        builder.markCut();
    return builder.finish();
}

namespace {

// Drops a UTF-8 sequence cut off at the end of `bytes`, so that the first
// part of a big file can be judged; returns how many bytes were dropped.
qsizetype dropCutUtf8Tail(QByteArray &bytes) {
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(bytes.at(n - back));
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: look further back
        if (c >= 0xC0) {
            const int len = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2);
            if (len > back) {
                bytes.truncate(n - back);
                return back;
            }
        }
        return 0;
    }
    return 0;
}

} // namespace

QString plainTextBytesToParagraphs(const QByteArray &input, qsizetype limit, bool moreFollows) {
    QByteArray bytes = input;
    // Byte order marks.
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
        if (moreFollows)
            dropCutUtf8Tail(bytes);
        return plainTextToParagraphs(QString::fromUtf8(bytes), limit, moreFollows);
    }
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = bytes.at(0) == '\xFF';
        bytes.remove(0, 2);
        if (bytes.size() % 2)
            bytes.chop(1);
        QStringDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        const QString decoded = decoder.decode(bytes);
        return plainTextToParagraphs(decoded, limit, moreFollows);
    }
    if (moreFollows)
        dropCutUtf8Tail(bytes);
    if (codepage::isValidUtf8(bytes))
        return plainTextToParagraphs(QString::fromUtf8(bytes), limit, moreFollows);
    // Windows-1252: one character per byte, so more than `limit` bytes are
    // never needed.
    if (bytes.size() > limit + 2) {
        bytes.truncate(limit + 2);
        moreFollows = true;
    }
    return plainTextToParagraphs(codepage::fromAnsi(bytes), limit, moreFollows);
}

QString utf8BytesToParagraphs(const QByteArray &input, qsizetype limit, bool moreFollows) {
    QByteArray bytes = input;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (moreFollows)
        dropCutUtf8Tail(bytes);
    // Surrogates encoded one by one (ED A0..BF xx) are not valid UTF-8;
    // decode them by hand so that the pair survives.
    QString text;
    text.reserve(bytes.size());
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i + 2 < n; ++i) {
        const auto b0 = static_cast<unsigned char>(bytes.at(i));
        const auto b1 = static_cast<unsigned char>(bytes.at(i + 1));
        const auto b2 = static_cast<unsigned char>(bytes.at(i + 2));
        if (b0 == 0xED && b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
            text.append(QString::fromUtf8(bytes.constData() + start, i - start));
            text.append(QChar(char16_t(0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F))));
            i += 2;
            start = i + 1;
        }
    }
    text.append(QString::fromUtf8(bytes.constData() + start, n - start));
    return plainTextToParagraphs(text, limit, moreFollows);
}

std::optional<QString> readPlainTextDocument(const QString &path, qsizetype limit) {
    const auto head = readFileHead(path, qint64(limit) * 4 + 8);
    if (!head)
        return std::nullopt;
    return plainTextBytesToParagraphs(head->bytes, limit, head->more);
}

} // namespace lesemund::docreaders
