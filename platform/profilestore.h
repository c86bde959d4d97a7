#pragma once
// Private-profile (INI) access in the shape of the profile functions the
// settings windows wrap: every path, section, key and value crosses it as
// text; the file itself holds 8-bit Windows-1252 text with CR LF line ends
// (or, as written by some editors, UTF-8 after a byte-order mark, and other
// line ends).
#include <QString>

namespace lesemund::platform {

class ProfileStore {
public:
    virtual ~ProfileStore() = default;

    // Copies at most bufferSize - 1 characters of the value into `value` and
    // returns how many it copied. A missing file, section or key gives 0.
    // Section and key names match without regard to letter case.
    virtual int getString(const QString &section, const QString &key, QString &value,
                          int bufferSize, const QString &file) = 0;

    // Replaces the key's value in place, keeping the key's spelling, or
    // appends the key at the end of its section, creating section and file
    // where they are missing.
    // Returns false when the file could not be written.
    virtual bool writeString(const QString &section, const QString &key, const QString &value,
                             const QString &file) = 0;
};

} // namespace lesemund::platform
