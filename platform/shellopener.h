#pragma once
// Opens an address or a path in the desktop's default program (the "Open"
// verb of the shell).
#include <QString>

namespace lesemund::platform {

class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    // Starts the default handler for `target`; returns without waiting for
    // it. The result is only a hint. A target that begins with "-" is never
    // handed to the handler.
    virtual bool open(const QString &target) = 0;
};

} // namespace lesemund::platform
