#include "support/doubles.h"

#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace lesemund::testing {
namespace {
// Like the real page, a speech file that is no regular file reads empty.
QByteArray slurp(const QString &path) {
    const auto head = platform::readFileHead(path, 1 << 24);
    return head ? head->bytes : QByteArray();
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
