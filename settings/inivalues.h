#pragma once
// Thin wrappers of the profile functions, as the settings windows use them.
#include <QString>

namespace lesemund {
namespace platform { class ProfileStore; }

// Writes the value; false when the file could not be written.
bool WriteIniValue(platform::ProfileStore &store, const QString &file, const QString &section,
                   const QString &key, const QString &value);

// Reads into a buffer of 150 characters: at most 149 come back; a missing
// file, section or key reads as empty text.
QString ReadIniValue(platform::ProfileStore &store, const QString &file, const QString &section,
                     const QString &key);

} // namespace lesemund
