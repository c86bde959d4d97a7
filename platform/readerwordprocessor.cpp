#include "platform/readerwordprocessor.h"

#include "platform/httpclient.h"

#include <QFile>

namespace lesemund::platform {

ReaderWordProcessor::ReaderWordProcessor(std::shared_ptr<const docreaders::DocumentReader> reader)
    : reader_(std::move(reader)) {}

ReaderWordProcessor::Document *ReaderWordProcessor::active() {
    if (quit_ || documents_.empty())
        return nullptr;
    return &documents_.back();
}

bool ReaderWordProcessor::setVisible(bool visible) {
    // There is no window to show.
    return !quit_ && !visible;
}

bool ReaderWordProcessor::documentsOpen(const QString &pathOrAddress, bool readOnly) {
    Q_UNUSED(readOnly); // every document is opened for reading only
    if (quit_ || !reader_)
        return false;
    Document doc;
    auto text = reader_->read(pathOrAddress, &doc.source);
    if (!text)
        return false;
    doc.text = std::move(*text);
    documents_.push_back(std::move(doc));
    return true;
}

bool ReaderWordProcessor::editSelectAll() {
    Document *doc = active();
    if (!doc)
        return false;
    doc->allSelected = true;
    return true;
}

QString ReaderWordProcessor::selection() {
    Document *doc = active();
    if (!doc || !doc->allSelected)
        return {};
    return doc->text;
}

bool ReaderWordProcessor::setDocumentVar(const QString &name, const QString &value) {
    Document *doc = active();
    if (!doc)
        return false;
    doc->variables.insert(name, value);
    return true;
}

std::optional<QString> ReaderWordProcessor::getDocumentVar(const QString &name) {
    Document *doc = active();
    if (!doc)
        return std::nullopt;
    return doc->variables.value(name);
}

bool ReaderWordProcessor::documentsClose(int saveChanges) {
    // Nothing is ever written back, whatever `saveChanges` says.
    Q_UNUSED(saveChanges);
    if (quit_ || documents_.empty())
        return false;
    documents_.clear();
    return true;
}

bool ReaderWordProcessor::quit() {
    if (quit_)
        return false;
    documents_.clear();
    quit_ = true;
    return true;
}

docreaders::DocumentReader::Source ReaderWordProcessor::activeSource() const {
    if (quit_ || documents_.empty())
        return docreaders::DocumentReader::Source::None;
    return documents_.back().source;
}

ReaderWordProcessorFactory::ReaderWordProcessorFactory()
    : reader_(std::make_shared<docreaders::DocumentReader>()) {}

ReaderWordProcessorFactory::ReaderWordProcessorFactory(std::shared_ptr<docreaders::DocumentReader> reader)
    : reader_(reader ? std::move(reader) : std::make_shared<docreaders::DocumentReader>()) {}

std::unique_ptr<WordProcessor> ReaderWordProcessorFactory::create() {
    return std::make_unique<ReaderWordProcessor>(reader_);
}

docreaders::DocumentReader::Downloader httpDownloader(std::shared_ptr<HttpClient> client) {
    return [client](const QString &address, const QString &targetPath, qint64 maxBytes) {
        if (!client)
            return false;
        const HttpResult result =
            client->get(address, qsizetype(std::min<qint64>(maxBytes, HttpClient::kDocumentLimit)));
        if (!result.ok)
            return false;
        QFile file(targetPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return false;
        return file.write(result.body) == result.body.size() && file.flush();
    };
}

} // namespace lesemund::platform
