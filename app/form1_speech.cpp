// The speech channel: every feature that says something writes a speech
// file of the data folder and then clicks a button of the speech page.
#include "app/form1.h"

#include "app/textfile.h"
#include "platform/browsercontrol.h"
#include "docreaders/codepage.h"
#include "platform/regularfile.h"
#include "settings/formini.h"


namespace lesemund {

void Form1::clickPage(const QString &button) {
    if (pageReady_ && services_.speechPage)
        services_.speechPage->clickButton(button);
}

void Form1::SpeakRequest(SpeechFile file, const QString &text, bool directive, bool lineEnd,
                         SpeechButton button) {
    const QString path = dataFolder() + (file == SpeechFile::Text ? QStringLiteral("/text.txt")
                                                                  : QStringLiteral("/fenster.txt"));
    QString content;
    if (directive)
        content = lesemund1->text();
    content += text;
    if (lineEnd)
        content += QStringLiteral("\r\n");
    // A file that cannot be written is skipped; the click still happens and
    // the page speaks what the file held before. A pipe or device in its
    // place is skipped at once, so that it can never hold up the window.
    platform::writeRegularFile(path, codepage::toAnsi(content));
    switch (button) {
    case SpeechButton::None: break;
    case SpeechButton::user1: clickPage(QStringLiteral("user1")); break;
    case SpeechButton::user2: clickPage(QStringLiteral("user2")); break;
    case SpeechButton::fenster1: clickPage(QStringLiteral("fenster1")); break;
    case SpeechButton::Hilfe: clickPage(QStringLiteral("Hilfe")); break;
    case SpeechButton::ReadingMode:
        // Two separate tests, as the reading mode has always been asked.
        if (!Option1[0]->isChecked())
            clickPage(QStringLiteral("user1"));
        if (!Option1[1]->isChecked())
            clickPage(QStringLiteral("user2"));
        break;
    }
}

void Form1::hilfelesen_Click() {
    SpeakRequest(SpeechFile::Text, Label1->caption(), true, false, SpeechButton::ReadingMode);
}

void Form1::lesemund_Click() {
    SpeakRequest(SpeechFile::Window, Text1->text(), true, true, SpeechButton::fenster1);
}

void Form1::Command6_Click() {
    SpeakRequest(SpeechFile::Window, Text1->text(), true, false, SpeechButton::None);
}

void Form1::Command2_Click() { clickPage(QStringLiteral("fenster1")); }

void Form1::Command3_Click() {
    SpeakRequest(SpeechFile::Window, Furl->text(), true, false, SpeechButton::fenster1);
}

void Form1::Command15_Click() {
    SpeakRequest(SpeechFile::Text, Text3->text(), false, false, SpeechButton::user2);
}

void Form1::Command21_Click() {
    SpeakRequest(SpeechFile::Text, Furl->text(), false, false, SpeechButton::user2);
}

void Form1::Command7_Click() {
    // Only regular files are read: a folder, a FIFO or a device named in the
    // address field must neither block nor fill the memory.
    Text3->setText(readAnsiTextFile(Furl->text()));
    SpeakRequest(SpeechFile::Window, Text3->text(), true, true, SpeechButton::Hilfe);
}

void Form1::Option1_Click(int) { Text4->setText(QStringLiteral("neue optionen")); }

// ---------------------------------------------------------------------------
// Speech controls and help

void Form1::Fhilfe_Click() {
    Text3->setText(readAnsiTextFile(dataFolder() + QStringLiteral("/hilfe.txt")));
    clickPage(QStringLiteral("Sprech"));
}

void Form1::FPause_Click() { clickPage(QStringLiteral("pause")); }
void Form1::Fweiter_Click() { clickPage(QStringLiteral("Weiter")); }
void Form1::Fstop_Click() { clickPage(QStringLiteral("Stop")); }
void Form1::Fnochmal_Click() { clickPage(QStringLiteral("Nochmal")); }

void Form1::Command23_Click() {
    Formini &options = formini();
    options.show();
    options.raise();
    options.activateWindow();
}

} // namespace lesemund
