#pragma once
// Opening an address or a path in the desktop's default program on Linux:
// xdg-open, started detached with the target as its one argument. No shell
// sees the target, so quotes, ";" or "$(...)" in it are plain characters of
// the address.
#include "platform/shellopener.h"

namespace lesemund::platform {

class XdgShellOpener : public ShellOpener {
public:
    // `program` is the opener to start, by name (looked up in PATH) or path.
    explicit XdgShellOpener(QString program = QStringLiteral("xdg-open"));

    // False when the opener could not be started.
    bool open(const QString &target) override;

    QString program() const { return program_; }

private:
    QString program_;
};

} // namespace lesemund::platform
