#pragma once
// The small text routines the readers use: search-and-replace and the
// line-end converter.
#include <QString>

namespace lesemund {

// Replaces every occurrence of `zeichenAlt` in `text` by `zeichenNeu`, from
// left to right, without overlapping; replaced text is never searched
// again. Changes `text` in place and returns it. An empty search text
// leaves the text unchanged (it would otherwise never finish).
QString ZeichenErsetzen(QString &text, const QString &zeichenAlt, const QString &zeichenNeu);

// Turns every CR into CR LF, whatever follows it.
QString ZeilenumbruchErsetzen(QString text);

} // namespace lesemund
