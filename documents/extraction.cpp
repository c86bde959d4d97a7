// Reading documents through the word processor, and the local selection
// watcher.
#include "app/form1.h"

#include "app/textfile.h"
#include "platform/wordprocessor.h"
#include "texttools/textroutines.h"

namespace lesemund {

void Form1::ExtractDocumentText(const QString &path) {
    // Every step that fails is skipped; closing and quitting run always.
    if (!services_.word)
        return;
    std::unique_ptr<platform::WordProcessor> word = services_.word->create();
    if (!word)
        return;
    word->setVisible(false);
    word->documentsOpen(path, true);
    word->editSelectAll();
    word->setDocumentVar(QStringLiteral("MyVar"), word->selection());
    const QString s = word->getDocumentVar(QStringLiteral("MyVar")).value_or(QString());
    if (!s.isEmpty())
        Text3->setText(ZeilenumbruchErsetzen(s.left(s.size() - 1)));
    word->documentsClose(0);
    word->quit();
}

void Form1::Command17_Click() {
    ExtractDocumentText(appFolder() + QLatin1Char('/') + selectedFileName());
    vergleichsfeld->setText(Text3->text());
    SpeakRequest(SpeechFile::Text, Text3->text(), true, true, SpeechButton::ReadingMode);
}

void Form1::Command4_Click() {
    ExtractDocumentText(appFolder() + QLatin1Char('/') + Furl->text());
    SpeakRequest(SpeechFile::Window, Text3->text(), true, true, SpeechButton::fenster1);
}

void Form1::Command16_Click() {
    // The bare name, relative to the current folder, read as 8-bit text.
    const QString name = selectedFileName();
    Text3->setText(name.isEmpty() ? QString() : readAnsiTextFile(name));
    SpeakRequest(SpeechFile::Text, Text3->text(), true, true, SpeechButton::ReadingMode);
}

void Form1::Command22_Click() {
    if (Text2->text() == QStringLiteral("Auswahl"))
        Label1->setCaption(QString::fromUtf8("Keine Lokale Datei ausgewählt!"));
    if (vergleichsfeld->text() == Text3->text()) {
        ExtractDocumentText(appFolder() + QLatin1Char('/') + selectedFileName());
        return;
    }
    vergleichsfeld->setText(Text3->text());
    SpeakRequest(SpeechFile::Text, Text3->text(), true, true, SpeechButton::ReadingMode);
}

} // namespace lesemund
