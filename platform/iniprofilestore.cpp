#include "platform/iniprofilestore.h"

#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace lesemund::platform {
namespace {

bool readLines(const QString &file, QStringList &lines) {
    QFileInfo info(file);
    if (!info.isFile() || info.size() > IniProfileStore::kMaxFileSize)
        return false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QString text = codepage::fromAnsi(f.readAll());
    lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    // A file ending in a line end gives one empty piece after it: no line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return true;
}

// The section name when `line` is a section header, else a null string.
QString sectionOf(const QString &line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return {};
    QString name = t.mid(1, close - 1).trimmed();
    if (name.isNull())
        name = QLatin1String("");
    return name;
}

bool keyMatches(const QString &line, const QString &key, QString *value = nullptr) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(eq + 1);
    return true;
}

QString cleanValue(QString v) {
    v = v.trimmed();
    if (v.size() >= 2 && ((v.startsWith('"') && v.endsWith('"')) ||
                          (v.startsWith('\'') && v.endsWith('\''))))
        v = v.mid(1, v.size() - 2);
    return v;
}

// Line ends inside a value would break the file apart; they become blanks.
QString flatten(QString v) {
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}

} // namespace

int IniProfileStore::getString(const QString &section, const QString &key, QString &value,
                               int bufferSize, const QString &file) {
    value.clear();
    if (bufferSize <= 0)
        return 0;
    QStringList lines;
    if (!readLines(file, lines))
        return 0;
    bool inSection = false;
    for (const QString &line : lines) {
        const QString s = sectionOf(line);
        if (!s.isNull()) {
            inSection = s.compare(section.trimmed(), Qt::CaseInsensitive) == 0;
            continue;
        }
        QString raw;
        if (inSection && keyMatches(line, key, &raw)) {
            value = cleanValue(raw).left(bufferSize - 1);
            return int(value.size());
        }
    }
    return 0;
}

bool IniProfileStore::writeString(const QString &section, const QString &key, const QString &value,
                                  const QString &file) {
    QStringList lines;
    if (QFileInfo::exists(file) && !readLines(file, lines))
        return false; // not a profile we may rewrite (a folder, a huge file)
    const QString newLine = key.trimmed() + QLatin1Char('=') + flatten(value);

    qsizetype sectionStart = -1; // index of the header line
    qsizetype lastInSection = -1; // last non-blank line of the section
    bool replaced = false;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString s = sectionOf(lines[i]);
        if (!s.isNull()) {
            if (inSection)
                break; // the section ended; later sections of the same name are left alone
            inSection = s.compare(section.trimmed(), Qt::CaseInsensitive) == 0;
            if (inSection)
                sectionStart = lastInSection = i;
            continue;
        }
        if (!inSection)
            continue;
        if (keyMatches(lines[i], key)) {
            lines[i] = newLine;
            replaced = true;
            break;
        }
        if (!lines[i].trimmed().isEmpty())
            lastInSection = i;
    }
    if (!replaced) {
        if (sectionStart < 0) {
            lines.append(QLatin1Char('[') + section.trimmed() + QLatin1Char(']'));
            lines.append(newLine);
        } else {
            lines.insert(lastInSection + 1, newLine);
        }
    }

    QByteArray bytes;
    for (const QString &line : lines) {
        bytes += codepage::toAnsi(line);
        bytes += "\r\n";
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
}

} // namespace lesemund::platform
