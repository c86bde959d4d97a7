#include "docreaders/zipcontainer.h"

#include "docreaders/documentreadertext.h"

#include <QFile>
#include <QXmlStreamReader>
#include <cstring>
#include <zip.h>

namespace lesemund::docreaders {

bool ZipContainer::looksLikeZip(const char *data, qsizetype size) {
    return size >= 4 && std::memcmp(data, "PK\x03\x04", 4) == 0;
}

ZipContainer::ZipContainer(const QString &path) {
    int error = 0;
    zip_ = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
}

ZipContainer::~ZipContainer() {
    if (zip_)
        zip_discard(zip_);
}

bool ZipContainer::contains(const char *name) const {
    return zip_ && zip_name_locate(zip_, name, 0) >= 0;
}

ZipStatus ZipContainer::read(const char *name, const std::function<bool(const QByteArray &)> &sink) {
    if (!zip_)
        return ZipStatus::Damaged;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(zip_, name, 0, &st) != 0)
        return ZipStatus::Missing;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return ZipStatus::Encrypted;
    if ((st.valid & ZIP_STAT_SIZE) && st.size > zip_uint64_t(kMaxEntryBytes))
        return ZipStatus::TooBig;
    zip_file_t *file = zip_fopen(zip_, name, 0);
    if (!file) {
        const int code = zip_error_code_zip(zip_get_error(zip_));
        zip_error_clear(zip_);
        return code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD ? ZipStatus::Encrypted : ZipStatus::Damaged;
    }
    ZipStatus status = ZipStatus::Ok;
    qint64 entry = 0;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer.data(), zip_uint64_t(buffer.size()));
        if (n < 0) {
            status = ZipStatus::Damaged;
            break;
        }
        if (n == 0)
            break;
        entry += n;
        total_ += n;
        if (entry > kMaxEntryBytes || total_ > kMaxTotalBytes) {
            status = ZipStatus::TooBig;
            break;
        }
        if (!sink(QByteArray::fromRawData(buffer.constData(), qsizetype(n))))
            break;
    }
    zip_fclose(file);
    return status;
}

ZipStatus ZipContainer::readAll(const char *name, QByteArray &out, qint64 maxBytes) {
    out.clear();
    bool tooBig = false;
    const ZipStatus status = read(name, [&](const QByteArray &piece) {
        tooBig = out.size() + piece.size() > maxBytes;
        if (!tooBig)
            out.append(piece);
        return !tooBig;
    });
    return status == ZipStatus::Ok && tooBig ? ZipStatus::TooBig : status;
}

ZipStatus ZipContainer::readXml(const char *name, const std::function<bool(QXmlStreamReader &)> &token) {
    QXmlStreamReader xml;
    bool stopped = false;
    const ZipStatus status = read(name, [&](const QByteArray &piece) {
        xml.addData(piece);
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.hasError())
                return xml.error() == QXmlStreamReader::PrematureEndOfDocumentError;
            if (!token(xml)) {
                stopped = true;
                return false;
            }
        }
        return true;
    });
    if (status != ZipStatus::Ok)
        return status;
    if (!stopped && (xml.hasError() || !xml.atEnd()))
        return ZipStatus::Damaged;
    return ZipStatus::Ok;
}

QString unreadableZipText(ZipStatus status) {
    switch (status) {
    case ZipStatus::Encrypted: return unreadableDocumentText(Unreadable::Protected);
    case ZipStatus::TooBig: return unreadableDocumentText(Unreadable::TooBig);
    default: return unreadableDocumentText(Unreadable::Damaged);
    }
}

} // namespace lesemund::docreaders
