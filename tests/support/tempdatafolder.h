#pragma once
// A temporary application folder with a copy of the shipped data folder,
// so that a test can build a window or a speech page on files of its own.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace lesemund::testing {

class TempDataFolder {
public:
    // Copies data/lesemund of the source tree into <temp>/lesemund unless
    // `copyShipped` is false, in which case <temp>/lesemund is empty.
    explicit TempDataFolder(bool copyShipped = true);

    QString appFolder() const { return dir_.path(); }
    QString dataFolder() const { return dir_.path() + "/lesemund"; }
    QString path(const QString &name) const { return dataFolder() + "/" + name; }

    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &bytes) const;

private:
    QTemporaryDir dir_;
};

} // namespace lesemund::testing
