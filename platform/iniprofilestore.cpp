#include "platform/iniprofilestore.h"

#include "docreaders/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace lesemund::platform {
namespace {

// A profile as read: its lines, and how they were written, so that a write
// gives back the file in the form it found it.
struct Profile {
    QStringList lines;
    bool mark = false;           // began with the UTF-8 mark EF BB BF
    bool utf8 = false;           // the text after the mark is UTF-8
    QByteArray lineEnd = "\r\n"; // the first line end met in the file
};

const QByteArray kUtf8Mark("\xEF\xBB\xBF");

// CR LF, LF and a CR alone each end a line.
bool readProfile(const QString &file, Profile &profile) {
    QFileInfo info(file);
    if (!info.isFile() || info.size() > IniProfileStore::kMaxFileSize)
        return false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    profile.mark = bytes.startsWith(kUtf8Mark);
    const QByteArray body = profile.mark ? bytes.sliced(kUtf8Mark.size()) : bytes;
    // Behind the mark an editor wrote UTF-8; should it not be, the mark
    // stays and the text is read as the 8-bit text it is.
    profile.utf8 = profile.mark && codepage::isValidUtf8(body);
    const QString text = profile.utf8 ? QString::fromUtf8(body) : codepage::fromAnsi(body);
    const qsizetype cr = bytes.indexOf('\r');
    const qsizetype lf = bytes.indexOf('\n');
    if (lf >= 0 && (cr < 0 || lf < cr))
        profile.lineEnd = "\n";
    else if (cr >= 0 && cr + 1 < bytes.size() && bytes.at(cr + 1) == '\n')
        profile.lineEnd = "\r\n";
    else if (cr >= 0)
        profile.lineEnd = "\r";

    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        profile.lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    // A file ending in a line end has no line after it.
    if (start < text.size())
        profile.lines.append(text.mid(start));
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

// The position of the equals sign when `line` holds `key`, else -1.
qsizetype keyEnd(const QString &line, const QString &key) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return -1;
    if (line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0)
        return -1;
    return eq;
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

bool writeWholeFile(const QString &file, const QByteArray &bytes) {
    QSaveFile out(file);
    // A folder that takes no new file still lets a writable file be
    // rewritten where it stands, without the protection of the rename.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

int removeWriteLeftovers(const QString &file) {
    const QFileInfo target(file);
    QDir folder = target.absoluteDir();
    const QString prefix = target.fileName() + QLatin1Char('.');
    int removed = 0;
    const QStringList names = folder.entryList({prefix + QStringLiteral("??????")},
                                               QDir::Files | QDir::CaseSensitive);
    for (const QString &name : names) {
        const QString tail = name.mid(prefix.size());
        bool letters = tail.size() == 6, upperAfterFirst = false, lower = false;
        for (qsizetype i = 0; letters && i < tail.size(); ++i) {
            const char16_t c = tail.at(i).unicode();
            const bool isUpper = c >= u'A' && c <= u'Z', isLower = c >= u'a' && c <= u'z';
            letters = isUpper || isLower;
            upperAfterFirst |= isUpper && i > 0;
            lower |= isLower;
        }
        const QFileInfo leftover(folder.filePath(name));
        if (letters && upperAfterFirst && lower && leftover.isFile() && !leftover.isSymLink() &&
            QFile::remove(leftover.filePath()))
            ++removed;
    }
    return removed;
}

int IniProfileStore::getString(const QString &section, const QString &key, QString &value,
                               int bufferSize, const QString &file) {
    value.clear();
    if (bufferSize <= 0)
        return 0;
    Profile profile;
    if (!readProfile(file, profile))
        return 0;
    bool inSection = false;
    for (const QString &line : std::as_const(profile.lines)) {
        const QString s = sectionOf(line);
        if (!s.isNull()) {
            inSection = s.compare(section.trimmed(), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        if (const qsizetype eq = keyEnd(line, key); eq >= 0) {
            value = cleanValue(line.mid(eq + 1)).left(bufferSize - 1);
            return int(value.size());
        }
    }
    return 0;
}

bool IniProfileStore::writeString(const QString &section, const QString &key, const QString &value,
                                  const QString &file) {
    Profile profile;
    if (QFileInfo::exists(file) && !readProfile(file, profile))
        return false; // not a profile we may rewrite (a folder, a huge file)
    QStringList &lines = profile.lines;
    const QString newValue = flatten(value);

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
        if (const qsizetype eq = keyEnd(lines[i], key); eq >= 0) {
            // The key keeps its spelling and its place; only the value changes.
            lines[i] = lines[i].left(eq).trimmed() + QLatin1Char('=') + newValue;
            replaced = true;
            break;
        }
        if (!lines[i].trimmed().isEmpty())
            lastInSection = i;
    }
    if (!replaced) {
        const QString newLine = key.trimmed() + QLatin1Char('=') + newValue;
        if (sectionStart < 0) {
            lines.append(QLatin1Char('[') + section.trimmed() + QLatin1Char(']'));
            lines.append(newLine);
        } else {
            lines.insert(lastInSection + 1, newLine);
        }
    }

    QByteArray bytes = profile.mark ? kUtf8Mark : QByteArray();
    for (const QString &line : std::as_const(lines)) {
        bytes += profile.utf8 ? line.toUtf8() : codepage::toAnsi(line);
        bytes += profile.lineEnd;
    }
    return writeWholeFile(file, bytes);
}

} // namespace lesemund::platform
