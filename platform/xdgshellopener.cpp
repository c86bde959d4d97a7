#include "platform/xdgshellopener.h"

#include <QProcess>

namespace lesemund::platform {

XdgShellOpener::XdgShellOpener(QString program) : program_(std::move(program)) {}

bool XdgShellOpener::open(const QString &target) {
    // Whatever begins with "-" would be read as an option of the opener.
    if (target.startsWith(QLatin1Char('-')))
        return false;
    // startDetached runs the program itself with an argument vector; the
    // opener lives on when this process ends and is never waited for.
    return QProcess::startDetached(program_, {target});
}

} // namespace lesemund::platform
