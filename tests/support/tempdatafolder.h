#pragma once
// A temporary application folder whose data folder holds a writable copy of
// the shipped one, or nothing when `copyShipped` is false.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace lesemund::testing {

class TempDataFolder {
public:
    explicit TempDataFolder(bool copyShipped = true) {
        const QDir shipped(QStringLiteral(LESEMUND_SOURCE_DIR "/data/lesemund"));
        QDir(appFolder()).mkdir("lesemund");
        for (const QString &name : copyShipped ? shipped.entryList(QDir::Files) : QStringList())
            if (QFile::copy(shipped.filePath(name), path(name)))
                QFile(path(name)).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    QString appFolder() const { return dir_.path(); }
    QString dataFolder() const { return dir_.path() + "/lesemund"; }
    QString path(const QString &name) const { return dataFolder() + "/" + name; }
    QByteArray read(const QString &name) const {
        QFile f(path(name));
        return f.open(QFile::ReadOnly) ? f.readAll() : "";
    }
    void write(const QString &name, const QByteArray &bytes) const {
        if (QFile f(path(name)); f.open(QFile::WriteOnly))
            f.write(bytes);
    }

private:
    QTemporaryDir dir_;
};

} // namespace lesemund::testing
