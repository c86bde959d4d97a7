#pragma once
#include "platform/profilestore.h"

namespace lesemund::platform {

// Private-profile files on Linux, with the behaviour the settings rely on:
// section and key names match without regard to letter case, values lose
// the blanks around them and one pair of enclosing double quotes, a write
// replaces a value in place (the key keeping its spelling) or appends the
// key at the end of its section (creating section and file).
// Files are 8-bit Windows-1252 text; one that begins with the UTF-8 mark
// EF BB BF is UTF-8. CR LF, LF and a lone CR all end a line. A rewrite keeps
// the mark and the line end the file used first; a new file gets CR LF.
// Writes go through writeWholeFile.
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

// Replaces the file's content: through a temporary file beside it that is
// then renamed over it, so a crash never leaves a half-written file; where
// the folder takes no new file, by rewriting the file where it stands.
// False when the bytes could not be written.
bool writeWholeFile(const QString &file, const QByteArray &bytes);

// Removes what an interrupted writeWholeFile of `file` may have left beside
// it: regular files named like the temporary copies ("optionen.ini.AbcDef",
// six letters of mixed case). A name that reads like a word ("backup",
// "Sicher") is left alone. Returns how many were removed.
int removeWriteLeftovers(const QString &file);

} // namespace lesemund::platform
