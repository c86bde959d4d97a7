// Focus announcements: every control the keyboard reaches says what it is
// when it gets the focus, and is highlighted until it loses it.
#include "app/form1.h"

#include <QApplication>
#include <QFocusEvent>

namespace lesemund {
namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

} // namespace

void Form1::setUpFocusTable() {
    auto fixed = [](const char *text) {
        const QString t = u(text);
        return [t] { return t; };
    };
    auto byState = [](VbCheckBox *box, const char *on, const char *off) {
        const QString onText = u(on), offText = u(off);
        return [box, onText, offText] { return box->value() != 0 ? onText : offText; };
    };
    auto row = [this](QWidget *w, std::function<QString()> text, quint32 highlight, quint32 blur,
                      bool textFirst = true) {
        focusRows_.insert(w, FocusRow{std::move(text), highlight, blur, textFirst});
    };

    row(File1, fixed("Lokale Liste.. Mit Pfeil-Tasten hoch und runter Auswahl suchen. Mit Enter Text "
                     "vorlesen. Mit F9 Dokument öffnen!"),
        kYellow, kWhite, false);
    row(Command17, fixed("Auswahl lesen [Enter]: TXT + DOC + RTF"), kYellow, kWhite);
    row(Command13, fixed("Lokale Liste Aktualisieren"), kYellow, kWhite);
    row(Command11, fixed("Lokaler Ordner öffnen"), kYellow, kFace);
    row(Command12, fixed("Lokale Auswahl öffnen [F9]"), kYellow, kFace);
    row(Check1, byState(Check1, "Aktives Fenster automatisch sprechen. Ist Aktiviert! Umstellung mit Leertaste!",
                        "Aktives Fenster nicht mehr sprechen. Umstellung mit Leertaste!"),
        kYellow, kFace);
    row(Check2, byState(Check2, "Aktiver Button automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!",
                        "Aktiver Button automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
        kYellow, kFace);
    row(Text3, fixed("Zwischenspeicher Textfeld. Mit Enter klick vorlesen. Löschen mit Entfernungstaste."),
        kYellow, kWhite);
    row(Command15, fixed("Textfeld vorlesen."), kYellow, kWhite);
    row(Fhilfe, fixed("Hilfe, Tasten Beschreibung."), kYellow, kFace);
    row(Furl, fixed("Focus ist auf Web Adressen Textfeld."), kYellow, kWhite);
    row(Check3, byState(Check3, "Bei URL Adresse Text veränderung automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!",
                        "Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
        kYellow, kFace);
    row(Command14, fixed("URL Datei vorlesen"), kYellow, kWhite);
    row(Command1, fixed("URL Adresse öffnen"), kYellow, kFace);
    row(chat1, fixed("Chat 1. automatisch vorlesen und im Internet-Explorer öffnen."), kYellow, kFace);
    row(chat2, fixed("Chat 2. automatisch vorlesen und im Internet-Explorer öffnen."), kYellow, kFace);
    row(Command24, fixed("Programm, auf Standart Einstellung zurücksetzen!"), kYellow, kFace);
    row(Command25, fixed("URL Adresse speichern!"), kYellow, kFace);
    row(singen, fixed("Mein Programm kann auch singen. Ein kleines Beispiel!"), kYellow, kFace);
    row(Command21, fixed("Adresse vorlesen."), kYellow, kFace);
    row(Fexit, fixed("Exit, Programm Fenster schließen!"), kRed, kFace);
    row(FPause, fixed("Pause beim sprechen [F2]."), kYellow, kWhite);
    row(Fweiter, fixed("Weiter sprechen [F3]."), kYellow, kWhite);
    row(Fstop, fixed("Stop beim sprechen [F4]."), kYellow, kWhite);
    row(Fnochmal, fixed("Nochmal sprechen [F5]."), kYellow, kWhite);
    // Reached only from code.
    row(Check4, byState(Check4, "Bei Auswahlfeld Text veränderung automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!",
                        "Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
        kYellow, kFace);
    row(Command18, fixed("URL Adresse, lesen TXT + DOC + RTF "), 0, 0);
    row(URLlesen, fixed("Abgespeicherte URL Adresse einlesen."), 0, 0);
    row(URLspeichern, fixed("Neue URL Adresse speichern."), 0, 0);

    // The desktop's accessibility tools see each control as our users hear
    // it: its caption as the name, its focus text as the description.
    for (auto it = focusRows_.cbegin(); it != focusRows_.cend(); ++it) {
        QWidget *w = it.key();
        QString name;
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            name = b->text().remove(QLatin1Char('&'));
        w->setAccessibleName(name.isEmpty() ? w->objectName() : name);
        if (it.value().text)
            w->setAccessibleDescription(it.value().text());
    }
    for (QRadioButton *o : Option1) {
        o->setAccessibleName(o->text());
        connect(o, &QRadioButton::toggled, this, [this] { describeReadingMode(); });
    }
    describeReadingMode();
    File1->setAccessibleName(QStringLiteral("Lokale Liste"));
    Text3->setAccessibleName(QStringLiteral("Zwischenspeicher Textfeld"));
    Furl->setAccessibleName(QStringLiteral("Web Adressen Textfeld"));
    Label1->setAccessibleName(QStringLiteral("Ansage"));

    // Buttons that take a highlight start in their normal colour.
    for (auto it = focusRows_.cbegin(); it != focusRows_.cend(); ++it)
        if (it.value().blur)
            setBackColor(it.key(), it.value().blur);
    for (QRadioButton *o : Option1)
        setBackColor(o, kFace);
}

void Form1::describeReadingMode() {
    // Both buttons describe the mode that is selected, as their focus text does.
    const QString text = Option1[0]->isChecked()
                             ? u("Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!")
                             : u("Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!");
    for (QRadioButton *o : Option1)
        o->setAccessibleDescription(text);
}

void Form1::gotFocus(QWidget *control) {
    if (control == Command27) {
        // The trap: Tab from the last control lands here and goes on to the list.
        File1->setFocus(Qt::TabFocusReason);
        return;
    }
    if (control == Option1[0] || control == Option1[1]) {
        // One handler for both buttons; it looks at the selection only.
        if (!Option1[0]->isChecked()) {
            Label1->setCaption(u("Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!"));
            setBackColor(Option1[1], kYellow);
        }
        if (!Option1[1]->isChecked()) {
            Label1->setCaption(u("Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!"));
            setBackColor(Option1[0], kYellow);
        }
        return;
    }
    const auto it = focusRows_.constFind(control);
    if (it == focusRows_.cend())
        return;
    const FocusRow &row = it.value();
    if (!row.textFirst && row.highlight)
        setBackColor(control, row.highlight);
    if (row.text) {
        const QString text = row.text();
        control->setAccessibleDescription(text);
        Label1->setCaption(text);
    }
    if (row.textFirst && row.highlight)
        setBackColor(control, row.highlight);
}

void Form1::lostFocus(QWidget *control) {
    if (control == Option1[0] || control == Option1[1]) {
        setBackColor(Option1[0], kFace);
        setBackColor(Option1[1], kFace);
        return;
    }
    const auto it = focusRows_.constFind(control);
    if (it != focusRows_.cend() && it.value().blur)
        setBackColor(control, it.value().blur);
}

void Form1::Label1_Change() {
    if (Check2->value() != 0)
        hilfelesen_Click();
}

} // namespace lesemund
