#include "docreaders/pdfreader.h"

#include <QFile>
#include <cstring>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace lesemund::docreaders {

bool looksLikePdf(const char *data, qsizetype size) {
    return size >= 5 && std::memcmp(data, "%PDF-", 5) == 0;
}

QString readPdfFile(const QString &path, qsizetype limit) {
    // poppler's complaints about damaged files are no concern of the user.
    poppler::set_debug_error_function([](const std::string &, void *) {}, nullptr);
    const std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(QFile::encodeName(path).toStdString()));
    if (!doc)
        return unreadableDocumentText(Unreadable::Damaged);
    if (doc->is_locked())
        return unreadableDocumentText(Unreadable::Protected);
    DocumentTextBuilder builder(limit);
    bool anyText = false;
    for (int i = 0; i < doc->pages() && !builder.full(); ++i) {
        const std::unique_ptr<poppler::page> page(doc->create_page(i));
        if (!page)
            continue;
        const poppler::byte_array utf8 = page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
            line = line.trimmed(); // blanks, and the form feed at the page's end
            if (line.isEmpty())
                continue;
            anyText = true;
            builder.append(line);
            builder.endParagraph();
        }
    }
    if (!anyText)
        return unreadableDocumentText(Unreadable::NoText);
    return builder.finish();
}

} // namespace lesemund::docreaders
