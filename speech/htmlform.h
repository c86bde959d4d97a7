#pragma once
// A small, forgiving reader for the one thing the speech page needs from
// HTML: the first form of a document, its attributes and the names of the
// buttons it declares. It never fails on broken markup or binary bytes; it
// simply finds no form.
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace lesemund::speech {

struct HtmlElement {
    QString tag;                          // lower case: "input" or "button"
    QHash<QString, QString> attributes;   // names in lower case, values decoded
};

struct HtmlForm {
    QHash<QString, QString> attributes;
    QList<HtmlElement> controls;          // <input> and <button>, in document order

    // The names a script could click the controls by: every enabled control's
    // name and id.
    QStringList clickableNames() const;
};

// The first <form> of `document` with the controls up to its end tag (or the
// end of the document). Comments, <script>, <style>, <textarea> and <title>
// contents are skipped; a <form> tag inside a form is ignored, as browsers
// do. No form tag: no form.
std::optional<HtmlForm> firstHtmlForm(const QString &document);

// Replaces the character references &amp; &lt; &gt; &quot; &apos; &nbsp;
// &#NNN; and &#xHHH; in an attribute value; anything else stays as it is.
QString decodeHtmlEntities(const QString &value);

} // namespace lesemund::speech
