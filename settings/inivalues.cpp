#include "settings/inivalues.h"

#include "platform/profilestore.h"

namespace lesemund {

bool WriteIniValue(platform::ProfileStore &store, const QString &file, const QString &section,
                   const QString &key, const QString &value) {
    return store.writeString(section, key, value, file);
}

QString ReadIniValue(platform::ProfileStore &store, const QString &file, const QString &section,
                     const QString &key) {
    QString buffer;
    const int n = store.getString(section, key, buffer, 150, file);
    return buffer.left(n);
}

} // namespace lesemund
