#include "app/textfile.h"

#include "platform/codepage.h"
#include "platform/documentreadertext.h"
#include "platform/regularfile.h"

namespace lesemund {

QString cutNotice() { return QStringLiteral("\r\n") + platform::documentTruncationNotice(); }

QString readAnsiTextFile(const QString &path) {
    const auto head = platform::readFileHead(path, kMaxTextBytes);
    if (!head)
        return {};
    const QString text = codepage::fromAnsi(head->bytes);
    return head->more ? text + cutNotice() : text;
}

} // namespace lesemund
