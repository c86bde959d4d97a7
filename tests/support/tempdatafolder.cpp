#include "support/tempdatafolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace lesemund::testing {

TempDataFolder::TempDataFolder(bool copyShipped) {
    QDir(dir_.path()).mkpath("lesemund");
    if (!copyShipped)
        return;
    const QString source = QStringLiteral(LESEMUND_SOURCE_DIR) + "/data/lesemund";
    QDirIterator it(source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString rel = QDir(source).relativeFilePath(file);
        QDir(dataFolder()).mkpath(QFileInfo(rel).path());
        QFile::copy(file, dataFolder() + "/" + rel);
        QFile(dataFolder() + "/" + rel).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
}

QByteArray TempDataFolder::read(const QString &name) const {
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void TempDataFolder::write(const QString &name, const QByteArray &bytes) const {
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace lesemund::testing
