#include "support/doubles.h"

#include <QFile>
#include <QFileInfo>

namespace lesemund::testing {
namespace {
QByteArray slurp(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

void FakeBrowserControl::navigate(const QString &path) {
    navigatedTo = path;
    loaded = QFileInfo::exists(path);
    dataFolder = QFileInfo(path).absolutePath();
}

bool FakeBrowserControl::clickButton(const QString &name) {
    if (!loaded)
        return false;
    clicks << name;
    textFileAtClick << slurp(dataFolder + "/text.txt");
    windowFileAtClick << slurp(dataFolder + "/fenster.txt");
    return true;
}

} // namespace lesemund::testing
