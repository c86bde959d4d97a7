#pragma once
// The word processor the document readers drive: one instance per
// extraction, created, used through the calls below and quit again.
//
// The calls mirror the word processor's automation calls one to one:
//   create                     WordProcessorFactory::create
//   Visible := False           setVisible(false)
//   Documents.Open path,,True  documentsOpen(path, true)
//   WordBasic.EditSelectAll    editSelectAll()
//   WordBasic.Selection        selection()
//   WordBasic.SetDocumentVar   setDocumentVar(name, value)
//   WordBasic.GetDocumentVar   getDocumentVar(name)
//   Documents.Close 0          documentsClose(0)
//   Quit                       quit()
// A call that fails returns false, an empty text or nothing; no call throws.
#include <QString>
#include <memory>
#include <optional>

namespace lesemund::platform {

class WordProcessor {
public:
    virtual ~WordProcessor() = default;

    // Shows or hides the word processor's window; false when that fails.
    virtual bool setVisible(bool visible) = 0;
    // Opens the document at a local path or address and makes it the active
    // document; false when it cannot be opened.
    virtual bool documentsOpen(const QString &pathOrAddress, bool readOnly) = 0;
    // Selects the whole active document; false without an active document.
    virtual bool editSelectAll() = 0;
    // The plain text of the selection: every paragraph ended by a carriage
    // return (13), the final paragraph mark included when the whole
    // document is selected. Empty when nothing is selected or on failure.
    virtual QString selection() = 0;
    // Stores a named value in the active document (never saved); false
    // without an active document.
    virtual bool setDocumentVar(const QString &name, const QString &value) = 0;
    // The named value of the active document, unchanged; an empty text for a
    // name never set; nothing when the call fails (no active document).
    virtual std::optional<QString> getDocumentVar(const QString &name) = 0;
    // Closes every open document; `saveChanges` 0 closes without saving.
    // False when no document was open.
    virtual bool documentsClose(int saveChanges) = 0;
    // Ends the word processor; every later call fails.
    virtual bool quit() = 0;
};

class WordProcessorFactory {
public:
    virtual ~WordProcessorFactory() = default;
    // A new word processor instance, or nullptr when there is none.
    virtual std::unique_ptr<WordProcessor> create() = 0;
};

} // namespace lesemund::platform
