#pragma once
// The parts of a zip container (.docx, .odt), read with bounds: one part may
// inflate to at most kMaxEntryBytes and all parts read from one container
// together to at most kMaxTotalBytes, counted on the bytes really inflated
// (never on the sizes the container claims), so that a small file cannot
// make the program inflate gigabytes. Parts are inflated piece by piece:
// memory stays small whatever their size.
#include <QByteArray>
#include <QString>
#include <functional>

class QXmlStreamReader;
struct zip;

namespace lesemund::docreaders {

enum class ZipStatus {
    Ok,
    Missing,   // no such part
    TooBig,    // the part, or all parts read so far, went beyond the bounds
    Damaged,   // the data does not inflate, fails its check sum, or is no XML
    Encrypted, // the part is protected by a password
};

class ZipContainer {
public:
    static constexpr qint64 kMaxEntryBytes = 64LL * 1024 * 1024;
    static constexpr qint64 kMaxTotalBytes = 96LL * 1024 * 1024;

    // True when `data` starts like a zip file.
    static bool looksLikeZip(const char *data, qsizetype size);

    explicit ZipContainer(const QString &path);
    ~ZipContainer();
    ZipContainer(const ZipContainer &) = delete;
    ZipContainer &operator=(const ZipContainer &) = delete;

    // False when the file is no zip container the program can open (no
    // central directory: cut off, or no zip at all).
    bool isOpen() const { return zip_ != nullptr; }
    bool contains(const char *name) const;

    // Hands the inflated bytes of part `name` to `sink` piece by piece;
    // `sink` returns false to stop early (which is Ok).
    ZipStatus read(const char *name, const std::function<bool(const QByteArray &)> &sink);
    // The whole part, when it is at most `maxBytes` long (else TooBig).
    ZipStatus readAll(const char *name, QByteArray &out, qint64 maxBytes);
    // Reads part `name` as XML: `token` sees the reader after every token
    // and returns false to stop early. A part that is no well-formed XML up
    // to where reading stopped is Damaged.
    ZipStatus readXml(const char *name, const std::function<bool(QXmlStreamReader &)> &token);

private:
    zip *zip_ = nullptr;
    qint64 total_ = 0;
};

// The message text of a status that kept a document from being read.
QString unreadableZipText(ZipStatus status);

} // namespace lesemund::docreaders
