#pragma once
// A word processor for tests: opens documents from a table instead of
// files, records every call with its arguments, and lets a test make any
// call fail. All instances of one factory share one state, so a test can
// look at what the code under test did after it released its instance.
#include "platform/wordprocessor.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace lesemund::testing {

struct FakeWordProcessorState {
    // Path or address -> the text of the whole document as the word
    // processor gives it (paragraphs ended by carriage returns, the final
    // paragraph mark included). Opening anything else fails.
    QHash<QString, QString> documents;
    // Calls that fail: "setVisible", "documentsOpen", "editSelectAll",
    // "selection", "setDocumentVar", "getDocumentVar", "documentsClose",
    // "quit".
    QSet<QString> failingCalls;
    // Every call in order, e.g. "documentsOpen(/app/brief.doc, true)",
    // "setDocumentVar(MyVar, Hallo\r)", "documentsClose(0)".
    QStringList calls;
    // Paths opened successfully, in order.
    QStringList opened;
    int created = 0; // instances made by the factory
    int alive = 0;   // instances not yet destroyed
    int quits = 0;   // successful quit() calls
    // Closes asked to save changes (saveChanges != 0) while a document was open.
    int savingCloses = 0;
    // Runs inside documentsOpen before the table is looked at.
    std::function<void(const QString &path)> onOpen;
};

class FakeWordProcessor : public platform::WordProcessor {
public:
    explicit FakeWordProcessor(std::shared_ptr<FakeWordProcessorState> state) : state_(std::move(state)) {
        ++state_->created;
        ++state_->alive;
    }
    ~FakeWordProcessor() override { --state_->alive; }

    bool setVisible(bool visible) override {
        record(QStringLiteral("setVisible(%1)").arg(visible ? "true" : "false"));
        return ok(QStringLiteral("setVisible"));
    }
    bool documentsOpen(const QString &path, bool readOnly) override {
        record(QStringLiteral("documentsOpen(%1, %2)").arg(path, readOnly ? "true" : "false"));
        if (state_->onOpen)
            state_->onOpen(path);
        if (!ok(QStringLiteral("documentsOpen")) || !state_->documents.contains(path))
            return false;
        open_ = true;
        selected_ = false;
        text_ = state_->documents.value(path);
        variables_.clear();
        state_->opened.append(path);
        return true;
    }
    bool editSelectAll() override {
        record(QStringLiteral("editSelectAll()"));
        if (!ok(QStringLiteral("editSelectAll")) || !open_)
            return false;
        selected_ = true;
        return true;
    }
    QString selection() override {
        record(QStringLiteral("selection()"));
        if (!ok(QStringLiteral("selection")) || !open_ || !selected_)
            return {};
        return text_;
    }
    bool setDocumentVar(const QString &name, const QString &value) override {
        record(QStringLiteral("setDocumentVar(%1, %2)").arg(name, value));
        if (!ok(QStringLiteral("setDocumentVar")) || !open_)
            return false;
        variables_.insert(name, value);
        return true;
    }
    std::optional<QString> getDocumentVar(const QString &name) override {
        record(QStringLiteral("getDocumentVar(%1)").arg(name));
        if (!ok(QStringLiteral("getDocumentVar")) || !open_)
            return std::nullopt;
        return variables_.value(name);
    }
    bool documentsClose(int saveChanges) override {
        record(QStringLiteral("documentsClose(%1)").arg(saveChanges));
        if (!ok(QStringLiteral("documentsClose")) || !open_)
            return false;
        if (saveChanges != 0)
            ++state_->savingCloses;
        open_ = false;
        selected_ = false;
        variables_.clear();
        return true;
    }
    bool quit() override {
        record(QStringLiteral("quit()"));
        if (!ok(QStringLiteral("quit")))
            return false;
        quit_ = true;
        open_ = false;
        ++state_->quits;
        return true;
    }

private:
    void record(const QString &call) { state_->calls.append(call); }
    bool ok(const QString &call) const { return !quit_ && !state_->failingCalls.contains(call); }

    std::shared_ptr<FakeWordProcessorState> state_;
    bool open_ = false;
    bool selected_ = false;
    bool quit_ = false;
    QString text_;
    QHash<QString, QString> variables_;
};

class FakeWordProcessorFactory : public platform::WordProcessorFactory {
public:
    std::shared_ptr<FakeWordProcessorState> state = std::make_shared<FakeWordProcessorState>();
    // False: there is no word processor; create() gives nullptr.
    bool available = true;

    // A document the word processor can open; `text` is given as the whole
    // document's text (add the final paragraph mark yourself).
    void setDocument(const QString &path, const QString &text) { state->documents.insert(path, text); }

    std::unique_ptr<platform::WordProcessor> create() override {
        if (!available)
            return nullptr;
        return std::make_unique<FakeWordProcessor>(state);
    }
};

} // namespace lesemund::testing
