#include "docreaderhelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lesemund::testing {

QString fixturePath(const QString &name) {
    return QStringLiteral(LESEMUND_SOURCE_DIR "/tests/fixtures/documents/") + name;
}

QByteArray readBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "cannot read " << path.toStdString();
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

platform::DocumentReader fastReadersOnly() {
    platform::DocumentReader reader;
    reader.setLibreOfficeProgram(QString());
    reader.setCatdocProgram(QString());
    return reader;
}

std::tuple<QByteArray, QDateTime, QStringList> snapshot(const QString &path) {
    const QFileInfo info(path);
    QFile f(path);
    QByteArray bytes;
    if (info.isFile() && f.open(QIODevice::ReadOnly))
        bytes = f.readAll();
    return {bytes, info.lastModified(),
            QDir(info.absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)};
}

QString paragraphs(std::initializer_list<const char *> parts) {
    QString out;
    for (const char *p : parts)
        out += QString::fromUtf8(p) + CR;
    return out;
}

std::string lines(const QString &text) {
    EXPECT_TRUE(text.endsWith(CR)) << "no final paragraph mark";
    return QString(text).replace(CR, QChar(10)).toStdString();
}

// The export: byte order mark dropped; CR LF, LF and CR end a line; the
// last line ended.
std::string exportLines(const QString &fixture) {
    QString text = QString::fromUtf8(readFixture(fixture + QStringLiteral(".expected")));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(CR, QChar(10));
    if (!text.endsWith(QChar(10)))
        text += QChar(10);
    return text.toStdString();
}

// The first sector that starts with the signature of a Word information
// block.
qsizetype wordStreamOffset(const QByteArray &file) {
    for (qsizetype at = 512; at + 2 <= file.size(); at += 512)
        if (file.mid(at, 2) == "\xEC\xA5")
            return at;
    ADD_FAILURE() << "no Word text stream";
    return 0;
}

} // namespace lesemund::testing
