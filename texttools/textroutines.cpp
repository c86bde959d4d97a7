#include "texttools/textroutines.h"

namespace lesemund {

QString ZeichenErsetzen(QString &text, const QString &zeichenAlt, const QString &zeichenNeu) {
    if (zeichenAlt.isEmpty())
        return text;
    qsizetype p = 0;
    while (true) {
        const qsizetype at = text.indexOf(zeichenAlt, p, Qt::CaseSensitive);
        if (at < 0)
            break;
        text.replace(at, zeichenAlt.size(), zeichenNeu);
        p = at + zeichenNeu.size();
    }
    return text;
}

QString ZeilenumbruchErsetzen(QString text) {
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (const QChar c : text) {
        out.append(c);
        if (c == QLatin1Char('\r'))
            out.append(QLatin1Char('\n'));
    }
    return out;
}

} // namespace lesemund
