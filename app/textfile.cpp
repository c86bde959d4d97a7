#include "app/textfile.h"

#include "docreaders/codepage.h"
#include "docreaders/documentreadertext.h"
#include "docreaders/filehead.h"

namespace lesemund {

namespace {
// The sentence appended where a text was cut, as the document readers say it.
QString cutNotice() { return QStringLiteral("\r\n") + docreaders::documentTruncationNotice(); }
} // namespace

QString readAnsiTextFile(const QString &path) {
    const auto head = docreaders::readFileHead(path, kMaxTextBytes);
    if (!head)
        return {};
    const QString text = codepage::fromAnsi(head->bytes);
    return head->more ? text + cutNotice() : text;
}

} // namespace lesemund
