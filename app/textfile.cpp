#include "app/textfile.h"

#include "platform/codepage.h"
#include "platform/documentreadertext.h"
#include "platform/regularfile.h"

namespace lesemund {

namespace {
// The sentence appended where a text was cut, as the document readers say it.
QString cutNotice() { return QStringLiteral("\r\n") + platform::documentTruncationNotice(); }
} // namespace

QString readAnsiTextFile(const QString &path) {
    const auto head = platform::readFileHead(path, kMaxTextBytes);
    if (!head)
        return {};
    const QString text = codepage::fromAnsi(head->bytes);
    return head->more ? text + cutNotice() : text;
}

} // namespace lesemund
