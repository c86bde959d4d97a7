#pragma once
#include "platform/profilestore.h"

namespace lesemund::platform {

// Private-profile files on Linux, with the behaviour the settings rely on:
// section and key names match without regard to letter case, values lose
// the blanks around them and one pair of enclosing double quotes, a write
// replaces a value in place or appends the key at the end of its section
// (creating section and file), and files are 8-bit Windows-1252 text with
// CR LF line ends. A write goes to a temporary file that then replaces the
// original, so a crash never leaves a half-written file behind.
class IniProfileStore : public ProfileStore {
public:
    int getString(const QString &section, const QString &key, QString &value, int bufferSize,
                  const QString &file) override;
    bool writeString(const QString &section, const QString &key, const QString &value,
                     const QString &file) override;

    // Files larger than this are not profiles; they read as empty and are
    // never rewritten.
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;
};

} // namespace lesemund::platform
