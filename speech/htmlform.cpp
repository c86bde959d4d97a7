#include "speech/htmlform.h"

namespace lesemund::speech {

namespace {

bool isSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool isNameStart(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isTagNameChar(QChar c) {
    return isNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u':' || c == u'_';
}

bool startsWithAt(const QString &s, qsizetype pos, QStringView what) {
    return QStringView(s).mid(pos).startsWith(what, Qt::CaseInsensitive);
}

// Everything about one tag, read from just after its '<'.
struct Tag {
    QString name;
    QHash<QString, QString> attributes;
    qsizetype end = 0;   // index just after the tag's '>' (or the document's end)
};

Tag readTag(const QString &s, qsizetype pos) {
    Tag tag;
    const qsizetype n = s.size();
    qsizetype i = pos;
    while (i < n && isTagNameChar(s[i]))
        ++i;
    tag.name = s.mid(pos, i - pos).toLower();
    while (i < n) {
        while (i < n && (isSpace(s[i]) || s[i] == u'/'))
            ++i;
        if (i >= n)
            break;
        if (s[i] == u'>') {
            ++i;
            break;
        }
        const qsizetype nameStart = i;
        while (i < n && !isSpace(s[i]) && s[i] != u'=' && s[i] != u'>' && s[i] != u'/')
            ++i;
        if (i == nameStart) { // a stray '=' or similar: step over it
            ++i;
            continue;
        }
        const QString attrName = s.mid(nameStart, i - nameStart).toLower();
        while (i < n && isSpace(s[i]))
            ++i;
        QString value;
        if (i < n && s[i] == u'=') {
            ++i;
            while (i < n && isSpace(s[i]))
                ++i;
            if (i < n && (s[i] == u'"' || s[i] == u'\'')) {
                const QChar quote = s[i];
                const qsizetype valueStart = ++i;
                while (i < n && s[i] != quote)
                    ++i;
                value = s.mid(valueStart, i - valueStart);
                if (i < n)
                    ++i;
            } else {
                const qsizetype valueStart = i;
                while (i < n && !isSpace(s[i]) && s[i] != u'>')
                    ++i;
                value = s.mid(valueStart, i - valueStart);
            }
        }
        if (!tag.attributes.contains(attrName)) // the first occurrence counts
            tag.attributes.insert(attrName, decodeHtmlEntities(value));
    }
    tag.end = i;
    return tag;
}

qsizetype skipPast(const QString &s, qsizetype pos, QStringView marker) {
    const qsizetype at = s.indexOf(marker, pos, Qt::CaseInsensitive);
    return at < 0 ? s.size() : at + marker.size();
}

} // namespace

QString decodeHtmlEntities(const QString &value) {
    if (!value.contains(u'&'))
        return value;
    QString out;
    out.reserve(value.size());
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (value[i] != u'&') {
            out += value[i];
            continue;
        }
        const qsizetype semi = value.indexOf(u';', i + 1);
        if (semi < 0 || semi - i > 12) {
            out += value[i];
            continue;
        }
        const QStringView ref = QStringView(value).mid(i + 1, semi - i - 1);
        char32_t code = 0;
        if (ref.startsWith(u'#')) {
            bool ok = false;
            uint number = (ref.size() > 1 && (ref[1] == u'x' || ref[1] == u'X'))
                              ? ref.mid(2).toUInt(&ok, 16)
                              : ref.mid(1).toUInt(&ok, 10);
            if (ok && number > 0 && number <= 0x10FFFF && (number < 0xD800 || number > 0xDFFF))
                code = number;
        } else if (ref == u"amp") {
            code = u'&';
        } else if (ref == u"lt") {
            code = u'<';
        } else if (ref == u"gt") {
            code = u'>';
        } else if (ref == u"quot") {
            code = u'"';
        } else if (ref == u"apos") {
            code = u'\'';
        } else if (ref == u"nbsp") {
            code = 0xA0;
        }
        if (code == 0) {
            out += value[i];
            continue;
        }
        out += QString::fromUcs4(&code, 1);
        i = semi;
    }
    return out;
}

QStringList HtmlForm::clickableNames() const {
    QStringList names;
    for (const HtmlElement &control : controls) {
        if (control.attributes.contains(QStringLiteral("disabled")))
            continue;
        for (const char *key : {"name", "id"}) {
            const QString value = control.attributes.value(QString::fromLatin1(key));
            if (!value.isEmpty() && !names.contains(value))
                names.append(value);
        }
    }
    return names;
}

std::optional<HtmlForm> firstHtmlForm(const QString &s) {
    std::optional<HtmlForm> form;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype lt = s.indexOf(u'<', i);
        if (lt < 0 || lt + 1 >= n)
            break;
        i = lt + 1;
        const QChar c = s[i];
        if (startsWithAt(s, lt, u"<!--")) {
            i = skipPast(s, lt + 4, u"-->");
        } else if (c == u'!' || c == u'?') {
            i = skipPast(s, i, u">");
        } else if (c == u'/') {
            const Tag tag = readTag(s, i + 1);
            i = tag.end;
            if (form && tag.name == u"form")
                return form;
        } else if (isNameStart(c)) {
            Tag tag = readTag(s, i);
            i = tag.end;
            if (tag.name == u"script" || tag.name == u"style" || tag.name == u"textarea"
                || tag.name == u"title") {
                i = skipPast(s, i, QString(QStringLiteral("</") + tag.name));
                i = skipPast(s, i, u">");
            } else if (tag.name == u"form") {
                if (!form) {
                    form.emplace();
                    form->attributes = std::move(tag.attributes);
                }
            } else if (form && (tag.name == u"input" || tag.name == u"button")) {
                form->controls.append(HtmlElement{tag.name, std::move(tag.attributes)});
            }
        }
        // Anything else after '<' is text; scanning goes on after it.
    }
    return form;
}

} // namespace lesemund::speech
