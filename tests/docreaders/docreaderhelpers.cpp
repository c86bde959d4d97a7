#include "docreaderhelpers.h"

#include <QFile>

namespace lesemund::testing {

QString fixturePath(const QString &name) {
    return QStringLiteral(LESEMUND_SOURCE_DIR "/tests/fixtures/documents/") + name;
}

QByteArray readBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return f.readAll();
}

QByteArray readFixture(const QString &name) { return readBytes(fixturePath(name)); }

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

QStringList paragraphsOfDocumentText(const QString &text) {
    EXPECT_TRUE(text.endsWith(QChar(13))) << "no final paragraph mark";
    QStringList parts = text.split(QChar(13));
    parts.removeLast();
    return parts;
}

QStringList paragraphsOfTextExport(const QByteArray &bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar(13), QChar(10));
    QStringList lines = text.split(QChar(10));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void expectSameParagraphs(const QStringList &got, const QStringList &want, const char *what) {
    const qsizetype n = std::max(got.size(), want.size());
    int shown = 0;
    for (qsizetype i = 0; i < n && shown < 10; ++i) {
        const QString g = i < got.size() ? got[i] : QStringLiteral("<none>");
        const QString w = i < want.size() ? want[i] : QStringLiteral("<none>");
        if (g != w) {
            ++shown;
            ADD_FAILURE() << what << ": paragraph " << i + 1 << " differs\n  reader:      \""
                          << g.toStdString() << "\"\n  LibreOffice: \"" << w.toStdString() << "\"";
        }
    }
    EXPECT_EQ(got.size(), want.size()) << what << ": number of paragraphs";
}

quint32 get32(const QByteArray &b, qsizetype at) {
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16 |
           quint32(quint8(b[at + 3])) << 24;
}

void put32(QByteArray &b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

qsizetype Layout::fatEntry(quint32 s) const {
    const quint32 fatSector = get32(bytes, 0x4C + 4 * (s / 128));
    return sectorOffset(fatSector) + 4 * (s % 128);
}

quint32 Layout::streamStart(const char *name) const {
    const quint32 first = firstDirectorySector();
    const quint32 second = get32(bytes, fatEntry(first));
    const QString wanted = QString::fromLatin1(name);
    for (int k = 0; k < 8; ++k) {
        const qsizetype e = sectorOffset(k < 4 ? first : second) + 128 * (k % 4);
        const QString entry(reinterpret_cast<const QChar *>(bytes.constData() + e), qsizetype(wanted.size()));
        if (entry == wanted)
            return get32(bytes, e + 0x74);
    }
    ADD_FAILURE() << "no stream " << name;
    return 0;
}

} // namespace lesemund::testing
