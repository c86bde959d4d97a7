#pragma once
// The word processor of the Linux program: no outside word processor, but
// the document reader (docreaders/documentreader.h) behind the same calls.
// documentsOpen reads the document's text at once; the selection after
// editSelectAll is that text (each paragraph ended by a carriage return,
// the final paragraph mark included); document variables live in memory
// with the open document; nothing is ever written to the document, whatever
// documentsClose is told. There is no window: setVisible(false) succeeds,
// setVisible(true) fails.
#include "docreaders/documentreader.h"
#include "platform/wordprocessor.h"

#include <QHash>
#include <memory>
#include <vector>

namespace lesemund::platform {

class HttpClient;

// A downloader that fetches with `client` (at most kMaxDownloadBytes) and
// writes the body to the target file. A failed fetch gives false.
docreaders::DocumentReader::Downloader httpDownloader(std::shared_ptr<HttpClient> client);


class ReaderWordProcessor : public WordProcessor {
public:
    explicit ReaderWordProcessor(std::shared_ptr<const docreaders::DocumentReader> reader);

    bool setVisible(bool visible) override;
    bool documentsOpen(const QString &pathOrAddress, bool readOnly) override;
    bool editSelectAll() override;
    QString selection() override;
    bool setDocumentVar(const QString &name, const QString &value) override;
    std::optional<QString> getDocumentVar(const QString &name) override;
    bool documentsClose(int saveChanges) override;
    bool quit() override;

    // Which reader read the active document (None without one).
    docreaders::DocumentReader::Source activeSource() const;

private:
    struct Document {
        QString text;
        QHash<QString, QString> variables;
        bool allSelected = false;
        docreaders::DocumentReader::Source source = docreaders::DocumentReader::Source::None;
    };
    Document *active();

    std::shared_ptr<const docreaders::DocumentReader> reader_;
    std::vector<Document> documents_; // the last one is the active document
    bool quit_ = false;
};

class ReaderWordProcessorFactory : public WordProcessorFactory {
public:
    ReaderWordProcessorFactory();
    explicit ReaderWordProcessorFactory(std::shared_ptr<docreaders::DocumentReader> reader);

    std::unique_ptr<WordProcessor> create() override;

    // The reader every instance uses; set its downloader and programs here
    // (before instances are created).
    docreaders::DocumentReader &reader() { return *reader_; }
    void setDownloader(docreaders::DocumentReader::Downloader downloader) {
        reader_->setDownloader(std::move(downloader));
    }

private:
    std::shared_ptr<docreaders::DocumentReader> reader_;
};

} // namespace lesemund::platform
