#include "app/textfile.h"

#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>

namespace lesemund {

QString cutNotice() {
    return QString::fromUtf8("\r\nDer Text ist zu lang und wurde hier abgeschnitten.");
}

QString readAnsiTextFile(const QString &path) {
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.read(kMaxTextBytes + 1);
    if (bytes.size() > kMaxTextBytes)
        return codepage::fromAnsi(bytes.left(kMaxTextBytes)) + cutNotice();
    return codepage::fromAnsi(bytes);
}

} // namespace lesemund
