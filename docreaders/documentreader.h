#pragma once
// The document reader behind the word processor: yields a document's plain
// text, every paragraph ended by a carriage return (13), the final
// paragraph mark included. It never writes to the document.
//
// Which reader reads what:
// - a name ending in ".txt" (any case): read in the program as plain text
//   (UTF-8 or UTF-16 with a byte order mark, otherwise valid UTF-8 as
//   UTF-8 and anything else as Windows-1252; CR LF, LF and CR each end a
//   paragraph);
// - otherwise by content: "{\rtf" is read by the RTF reader of the program;
//   a compound (OLE) file by the Word 97-2003 reader of the program, and if
//   that cannot read it (Word 6/95, a damaged file), by catdoc;
// - a zip container with word/document.xml by the Office Open XML reader
//   (".docx"), one whose mimetype is application/vnd.oasis.opendocument.text
//   and that has a content.xml by the OpenDocument reader (".odt"), and
//   "%PDF-" by the PDF reader, all of the program. An encrypted package of
//   Office Open XML (a compound file), and a ".docx" or ".odt" that is a cut
//   off zip, are theirs too. What they cannot read (a password, broken XML,
//   a zip bomb, a PDF without text) reads as a short message that says why
//   (unreadableDocumentText), never as LibreOffice's attempt;
// - LibreOffice headless is the fallback for whatever these cannot read
//   and for all other formats (".xlsx", ".odp", ...). Without LibreOffice
//   that fallback yields nothing.
// An empty file (0 bytes) is an empty document: one paragraph mark.
//
// Outside programs run with an argument vector, in a private temporary
// folder that is removed afterwards, on a copy of the document, with a time
// limit (10 s), killed with everything they started when they run over.
//
// Addresses: "file://" addresses are read like local paths. "http://" and
// "https://" addresses are handed to the downloader (see setDownloader);
// without one they read as nothing. The downloaded file is read like a
// local document whose name is the last part of the address's path.
//
// The text is capped at kDocumentTextLimit characters; a cut text ends with
// the paragraph documentTruncationNotice().
#include "docreaders/documentreadertext.h"

#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace lesemund::docreaders {

class DocumentReader {
public:
    // Which reader gave the text (for the tests and the benchmark).
    enum class Source { None, PlainText, Rtf, Word, Catdoc, LibreOffice, Docx, Odt, Pdf };

    // Downloads `address` into the file `targetPath` (which does not exist
    // yet), at most `maxBytes` bytes; true when the file holds the document
    // (or, for a longer one, its first `maxBytes` bytes).
    using Downloader = std::function<bool(const QString &address, const QString &targetPath,
                                          qint64 maxBytes)>;

    static constexpr qint64 kMaxDownloadBytes = 20LL * 1024 * 1024;
    static constexpr std::chrono::milliseconds kDefaultTimeLimit{10000};
    // Documents bigger than this are not copied for the outside programs.
    static constexpr qint64 kMaxOutsideProgramInput = 100LL * 1024 * 1024;

    DocumentReader();

    // The document's text, or nothing when it cannot be read (missing file,
    // folder, no reader for it, an address without downloader).
    std::optional<QString> read(const QString &pathOrAddress, Source *source = nullptr) const;

    // The one seam to the network: how "http://" and "https://" addresses
    // are fetched. The program wires it to its HTTP client
    // (httpDownloader below); until then such addresses read as nothing.
    void setDownloader(Downloader downloader) { downloader_ = std::move(downloader); }
    bool hasDownloader() const { return bool(downloader_); }

    // The outside programs (names looked up in PATH, or paths). An empty
    // name switches that reader off.
    void setLibreOfficeProgram(const QString &program) { soffice_ = program; }
    void setCatdocProgram(const QString &program) { catdoc_ = program; }
    QString libreOfficeProgram() const { return soffice_; }
    QString catdocProgram() const { return catdoc_; }
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }
    std::chrono::milliseconds timeLimit() const { return timeLimit_; }
    void setTextLimit(qsizetype characters) { textLimit_ = characters; }
    qsizetype textLimit() const { return textLimit_; }

    // The single readers, each on a local path.
    std::optional<QString> readWithCatdoc(const QString &path) const;
    std::optional<QString> readWithLibreOffice(const QString &path) const;

private:
    std::optional<QString> readLocal(const QString &path, const QString &name, Source *source) const;
    std::optional<QString> readAddress(const QString &address, Source *source) const;

    Downloader downloader_;
    QString soffice_ = QStringLiteral("soffice");
    QString catdoc_ = QStringLiteral("catdoc");
    std::chrono::milliseconds timeLimit_ = kDefaultTimeLimit;
    qsizetype textLimit_ = kDocumentTextLimit;
};

} // namespace lesemund::docreaders
