#include "docreaders/documentreader.h"

#include "docreaders/documentreaderprocess.h"
#include "docreaders/documentreaderword.h"
#include "docreaders/docxreader.h"
#include "docreaders/odtreader.h"
#include "docreaders/pdfreader.h"
#include "docreaders/rtfreader.h"
#include "docreaders/zipcontainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

namespace lesemund::docreaders {
namespace {

QString lowerSuffix(const QString &name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return {};
    return name.mid(dot + 1).toLower();
}

bool startsWithScheme(const QString &s, const char *scheme) {
    return s.startsWith(QLatin1String(scheme), Qt::CaseInsensitive);
}

// The environment of an outside program: nothing of the user's own
// settings, a home and a temporary folder of its own, UTF-8.
QStringList programEnvironment(const QString &home) {
    QStringList env;
    const QByteArray path = qgetenv("PATH");
    env << QStringLiteral("PATH=") + (path.isEmpty() ? QStringLiteral("/usr/bin:/bin") : QString::fromLocal8Bit(path));
    env << QStringLiteral("HOME=") + home;
    env << QStringLiteral("TMPDIR=") + home;
    env << QStringLiteral("LANG=C.UTF-8") << QStringLiteral("LC_ALL=C.UTF-8");
    env << QStringLiteral("SAL_USE_VCLPLUGIN=svp");
    return env;
}

// A copy of the document under a plain name in the private folder: the
// programs never see the user's file name (blanks, quotes, a leading dash)
// and can never change the document itself.
QString copyForProgram(const QString &path, const QString &folder, const QString &suffix) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > DocumentReader::kMaxOutsideProgramInput)
        return {};
    if (!QDir().mkpath(folder))
        return {};
    const QString copy = folder + QStringLiteral("/dokument") +
                         (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
    if (!QFile::copy(path, copy))
        return {};
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return copy;
}

// A safe local name for a downloaded document: the last part of the
// address's path, letters, digits, '-', '_' and '.' only.
QString downloadName(const QString &address) {
    const QUrl url(address);
    QString name = url.fileName();
    QString safe;
    for (QChar c : name)
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.'))
            safe.append(c);
    while (safe.startsWith(QLatin1Char('.')) || safe.startsWith(QLatin1Char('-')))
        safe.remove(0, 1);
    if (safe.isEmpty())
        safe = QStringLiteral("dokument");
    return safe.left(100);
}

} // namespace

DocumentReader::DocumentReader() = default;

std::optional<QString> DocumentReader::read(const QString &pathOrAddress, Source *source) const {
    if (source)
        *source = Source::None;
    if (pathOrAddress.isEmpty())
        return std::nullopt;
    if (startsWithScheme(pathOrAddress, "http://") || startsWithScheme(pathOrAddress, "https://"))
        return readAddress(pathOrAddress, source);
    QString path = pathOrAddress;
    if (startsWithScheme(pathOrAddress, "file:")) {
        path = QUrl(pathOrAddress).toLocalFile();
        if (path.isEmpty())
            return std::nullopt;
    }
    path = QFileInfo(path).absoluteFilePath();
    return readLocal(path, path, source);
}

std::optional<QString> DocumentReader::readAddress(const QString &address, Source *source) const {
    if (!downloader_)
        return std::nullopt;
    QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString name = downloadName(address);
    const QString target = folder.path() + QLatin1Char('/') + name;
    if (!downloader_(address, target, kMaxDownloadBytes))
        return std::nullopt;
    return readLocal(target, name, source);
}

std::optional<QString> DocumentReader::readLocal(const QString &path, const QString &name,
                                                 Source *source) const {
    auto said = [&](Source s, std::optional<QString> text) {
        if (source && text)
            *source = s;
        return text;
    };
    if (!isReadableRegularFile(path))
        return std::nullopt;
    const auto head = readFileHead(path, 64);
    if (!head)
        return std::nullopt;
    const QString suffix = lowerSuffix(name);
    if (head->bytes.isEmpty())
        return said(Source::PlainText, QString(QChar(13))); // an empty document
    if (suffix == QLatin1String("txt"))
        return said(Source::PlainText, readPlainTextDocument(path, textLimit_));

    const char *data = head->bytes.constData();
    const qsizetype size = head->bytes.size();
    if (looksLikeRtf(data, size)) {
        if (auto text = readRtfFile(path, textLimit_))
            return said(Source::Rtf, std::move(text));
    } else if (looksLikeCompoundFile(data, size)) {
        const WordDocumentResult word = readWordDocumentFile(path, textLimit_);
        if (word.text)
            return said(Source::Word, word.text);
        if (word.encrypted)
            return std::nullopt; // no reader opens it without the password
        if (word.encryptedPackage)
            return said(Source::Docx, unreadableDocumentText(Unreadable::Protected));
        if (auto text = readWithCatdoc(path))
            return said(Source::Catdoc, std::move(text));
    } else if (ZipContainer::looksLikeZip(data, size)) {
        ZipContainer zip(path);
        if (zip.contains("word/document.xml"))
            return said(Source::Docx, readDocx(zip, textLimit_));
        if (isOdtContainer(zip))
            return said(Source::Odt, readOdt(zip, textLimit_));
        if (!zip.isOpen() && (suffix == QLatin1String("docx") || suffix == QLatin1String("odt")))
            return said(suffix == QLatin1String("odt") ? Source::Odt : Source::Docx,
                        unreadableDocumentText(Unreadable::Damaged));
    } else if (looksLikePdf(data, size)) {
        return said(Source::Pdf, readPdfFile(path, textLimit_));
    }
    return said(Source::LibreOffice, readWithLibreOffice(path));
}

std::optional<QString> DocumentReader::readWithCatdoc(const QString &path) const {
    if (catdoc_.isEmpty() || findProgram(catdoc_).isEmpty())
        return std::nullopt;
    QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString home = folder.path();
    const QString copy = copyForProgram(path, home + QStringLiteral("/in"), QStringLiteral("doc"));
    if (copy.isEmpty())
        return std::nullopt;
    // catdoc's own output format: table cells and rows end paragraphs (its
    // shipped format would join a row's cells with tabs).
    {
        QDir().mkpath(home + QStringLiteral("/maps"));
        QFile rc(home + QStringLiteral("/.catdocrc"));
        QFile specialChars(home + QStringLiteral("/maps/lesemund.specchars"));
        QFile repl(home + QStringLiteral("/maps/lesemund.replchars"));
        if (!rc.open(QIODevice::WriteOnly) || !specialChars.open(QIODevice::WriteOnly) ||
            !repl.open(QIODevice::WriteOnly))
            return std::nullopt;
        rc.write("map_path = " + QFile::encodeName(home + QStringLiteral("/maps")) + "\n");
        specialChars.write("001C \"\\n\"\n001E \"\\n\"\n00AD \"\"\n");
    }
    const QStringList args{QStringLiteral("-w"), QStringLiteral("-d"), QStringLiteral("utf-8"),
                           QStringLiteral("-f"), QStringLiteral("lesemund"), QStringLiteral("--"), copy};
    const ProgramRun run = runProgram(catdoc_, args, home, programEnvironment(home), timeLimit_,
                                      qsizetype(textLimit_) * 4 + 8);
    if (!run.started || (!run.finished && !run.outputCut) || (run.finished && run.exitCode != 0))
        return std::nullopt;
    if (run.output.trimmed().isEmpty())
        return std::nullopt;
    return utf8BytesToParagraphs(run.output, textLimit_, run.outputCut);
}

std::optional<QString> DocumentReader::readWithLibreOffice(const QString &path) const {
    if (soffice_.isEmpty() || findProgram(soffice_).isEmpty())
        return std::nullopt;
    QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString home = folder.path();
    QString suffix = lowerSuffix(path);
    if (suffix == QLatin1String("txt"))
        suffix.clear(); // the output is dokument.txt
    const QString copy = copyForProgram(path, home + QStringLiteral("/in"), suffix);
    if (copy.isEmpty())
        return std::nullopt;
    const QString out = home + QStringLiteral("/out");
    QDir().mkpath(out);
    const QStringList args{
        QStringLiteral("--headless"),
        QStringLiteral("--invisible"),
        QStringLiteral("--nologo"),
        QStringLiteral("--norestore"),
        QStringLiteral("--nodefault"),
        QStringLiteral("--nolockcheck"),
        QStringLiteral("-env:UserInstallation=") +
            QUrl::fromLocalFile(home + QStringLiteral("/profile")).toString(QUrl::FullyEncoded),
        QStringLiteral("--convert-to"),
        QStringLiteral("txt:Text (encoded):UTF8"),
        QStringLiteral("--outdir"),
        out,
        copy,
    };
    const ProgramRun run = runProgram(soffice_, args, home, programEnvironment(home), timeLimit_, 1 << 20);
    if (!run.finished)
        return std::nullopt;
    return readPlainTextDocument(out + QStringLiteral("/dokument.txt"), textLimit_);
}

} // namespace lesemund::docreaders
