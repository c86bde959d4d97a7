// The local file list: walk the documents of the folder by ear, open them
// or the folder in the desktop's programs.
#include "app/form1.h"

#include <QDir>

namespace lesemund {

void Form1::refreshFileList() {
    // Plain, visible files of the current folder whose names end in .txt,
    // .doc, .rtf, .docx, .odt or .pdf in any letter case, sorted by name. Folders (also one
    // named "x.txt"), hidden files and broken links are left out.
    QDir folder = QDir::current();
    folder.setNameFilters({QStringLiteral("*.txt"), QStringLiteral("*.doc"), QStringLiteral("*.rtf"),
                           QStringLiteral("*.docx"), QStringLiteral("*.odt"), QStringLiteral("*.pdf")});
    folder.setFilter(QDir::Files | QDir::Readable);
    folder.setSorting(QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QStringList names = folder.entryList();
    const QSignalBlocker quiet(File1);
    File1->clear();
    File1->addItems(names);
}

QString Form1::selectedFileName() const {
    const QListWidgetItem *item = File1->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void Form1::File1_Click() {
    Text2->setText(selectedFileName());
    SpeakRequest(SpeechFile::Window, Text2->text(), true, false, SpeechButton::fenster1);
}

void Form1::File1_DblClick() { Command12_Click(); }

void Form1::Command12_Click() { URLGoTo(qint64(winId()), Text2->text()); }

void Form1::Command11_Click() { URLGoTo(qint64(winId()), appFolder()); }

void Form1::Command13_Click() {
    refreshFileList();
    File1->setFocus(Qt::OtherFocusReason);
}

void Form1::lokalpfad_Click() { lokalpfad->setText(QStringLiteral("Lokale Liste:") + appFolder()); }

void Form1::File1_KeyDown(int keyCode) {
    if (keyCode == 13)
        Command17_Click();
    if (keyCode == 112)
        Label1->setCaption(QString::fromUtf8("Lokale Liste.. Mit Pfeil-Tasten hoch und runter Auswahl suchen. "
                                             "Mit Enter Text vorlesen. Mit F9 Dokument öffnen!"));
    if (keyCode == 120)
        Command12_Click();
}

} // namespace lesemund
