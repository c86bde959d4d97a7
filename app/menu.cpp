// The menu bar: every command of the window for the keyboard, four of them
// with Ctrl shortcuts. A highlighted menu or item is announced like a
// control, since a blind user cannot walk a silent menu.
#include "app/form1.h"

#include "settings/formini.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>

namespace lesemund {
namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

// The caption as shown, without an access-key ampersand.
QString shownCaption(const QAction *action) {
    QString text = action->text();
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return text.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

} // namespace

void Form1::buildMenu() {
    QMenuBar *bar = menuBar();
    auto menu = [&](const char *name, const char *caption) {
        QMenu *m = bar->addMenu(u(caption));
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        connect(m, &QMenu::hovered, this, [this](QAction *a) { announceMenu(a); });
        return m;
    };
    auto item = [&](QMenu *m, const char *name, const char *caption, std::function<void()> action,
                    QKeySequence shortcut = {}) {
        QAction *a = m->addAction(u(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) {
            a->setShortcut(shortcut);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        if (action)
            connect(a, &QAction::triggered, this, [action] { action(); });
        return a;
    };
    auto focus = [this](QWidget *w) {
        return [this, w] {
            if (!w->isEnabled() || !w->isVisible())
                return;
            // A control that has the focus already is announced again, so
            // that the shortcut never goes unanswered.
            if (w->hasFocus())
                gotFocus(w);
            else
                w->setFocus(Qt::ShortcutFocusReason);
        };
    };

    QMenu *felder = menu("felderx", "Felder");
    item(felder, "Auswahlfeldfocusx", "Auswahlfeld Focus", focus(File1), QKeySequence(Qt::CTRL | Qt::Key_F));
    item(felder, "Auswahllesenx", "Auswahl lesen [Enter]", {});
    item(felder, "AuswahlDateioeffenx", "Auswahl Datei öffen", {}, QKeySequence(Qt::CTRL | Qt::Key_O));
    item(felder, "leer2", "_", {});
    item(felder, "URLFeldFocusx", "URL Feld Focus", focus(Furl), QKeySequence(Qt::CTRL | Qt::Key_U));
    item(felder, "Textfeldschreibenlesenx", "Textfeld schreiben + lesen Focus", focus(Text3),
         QKeySequence(Qt::CTRL | Qt::Key_T));

    QMenu *lesen = menu("lesenx", "Lesen");
    item(lesen, "Pausex", "Pause F2", [this] { FPause_Click(); });
    item(lesen, "Weiterx", "Weiter F3", [this] { Fweiter_Click(); });
    item(lesen, "Stopx", "Stop F4", [this] { Fstop_Click(); });
    item(lesen, "Nochmalx", "Nochmal F5", [this] { Fnochmal_Click(); });
    item(lesen, "Textfeldlesenx", "Textfeld vorlesen [Enter]", [this] { Command15_Click(); });

    QMenu *automatisch = menu("Automatischx", "Automatisch");
    item(automatisch, "AutomatischHilfelesenx", "Hilfe Button lesen", [this] { toggleSwitch(Check2); });
    item(automatisch, "AktivesFensterx", "Aktives Fenster vorlesen", [this] { toggleSwitch(Check1); });
    automatisch->addSeparator()->setObjectName(QStringLiteral("leer1"));
    item(automatisch, "LokaleListeAuswahlx", "Lokale Liste Auswahl bei veränderung lesen",
         [this] { toggleSwitch(Check4); });
    item(automatisch, "URLAdresebeix", "URL Adrese bei veränderung lesen", [this] { toggleSwitch(Check3); });

    QMenu *extra = menu("extrax", "Extra");
    item(extra, "LokalerOrdnerx", "Lokaler Ordner öffen [Alt+L]", [this] { LokalerOrdnerx_Click(); });
    item(extra, "Auswahloeffenx", "Auswahl öffen [Alt+A]", [this] { Auswahloeffenx_Click(); });
    item(extra, "ListeAktualisierenx", "Lokale Liste Aktualisieren", [this] { ListeAktualisierenx_Click(); });
    item(extra, "StandartEinstellungx", "Standart Einstellung [Alt+T]", [this] { StandartEinstellungx_Click(); });

    QMenu *url = menu("urlx", "URL");
    item(url, "URLlesenx", "URL lesen", [this] { Command14_Click(); });
    item(url, "URLoeffenx", "URL öffen", [this] { Command1_Click(); });
    item(url, "URLFocusx", "URL Focus [Strg+U]", [this] { URLFocusx_Click(); });
    item(url, "URLAddresselesenx", "URL Datei vorlesen [Enter]", [this] { Command14_Click(); });
    item(url, "URLAdreseloeschenx", "URL Adrese löschen [Entf]", [this] { URLAdreseloeschenx_Click(); });
    item(url, "Adresselesenx", "Adresse lesen [Alt+S]", [this] { Command21_Click(); });
    item(url, "URLspeichernx", "URL Adresse speichern", {});

    // The voice: function keys beside the speech keys F1 to F5, free in every
    // control. Shift turns a dial the other way. One press is one step.
    QMenu *stimme = menu("Stimmex", "Stimme");
    const struct {
        const char *name, *caption;
        void (Form1::*action)();
        QKeySequence key;
        const char *said; // the key as the highlighted item tells it
    } voiceItems[] = {
        {"Schnellerx", "Schneller", &Form1::Schnellerx_Click, Qt::Key_F6, "F6"},
        {"Langsamerx", "Langsamer", &Form1::Langsamerx_Click, Qt::SHIFT | Qt::Key_F6, "Umschalt und F6"},
        {"Hoeherx", "Höher", &Form1::Hoeherx_Click, Qt::Key_F7, "F7"},
        {"Tieferx", "Tiefer", &Form1::Tieferx_Click, Qt::SHIFT | Qt::Key_F7, "Umschalt und F7"},
        {"Lauterx", "Lauter", &Form1::Lauterx_Click, Qt::Key_F8, "F8"},
        {"Leiserx", "Leiser", &Form1::Leiserx_Click, Qt::SHIFT | Qt::Key_F8, "Umschalt und F8"},
        {"Stimmewechselnx", "Stimme wechseln", &Form1::Stimmewechselnx_Click, Qt::Key_F11, "F11"},
        {"Sprachausgabewechselnx", "Sprachausgabe wechseln", &Form1::Sprachausgabewechselnx_Click, Qt::Key_F12,
         "F12"},
    };
    for (const auto &v : voiceItems) {
        QAction *a = item(stimme, v.name, v.caption, [this, f = v.action] { (this->*f)(); }, v.key);
        a->setAutoRepeat(false);
        a->setProperty("spokenKey", QString::fromLatin1(v.said));
    }

    QAction *exitAction = bar->addAction(QStringLiteral("Exit"));
    exitAction->setObjectName(QStringLiteral("Exitx"));
    connect(exitAction, &QAction::triggered, this, [this] { Exitx_Click(); });

    // The top-level entries are announced too as the keyboard walks them.
    connect(bar, &QMenuBar::hovered, this, [this](QAction *a) { announceMenu(a); });
}

QAction *Form1::menuAction(const QString &name) const {
    for (QAction *a : menuBar()->findChildren<QAction *>())
        if (a->objectName() == name)
            return a;
    return nullptr;
}

void Form1::openMenuFromKeyboard() {
    // F10 does what Alt pressed and released alone does: the menu bar takes
    // the keyboard with its first menu highlighted, and leaving it gives the
    // focus back to the control that had it.
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
    if (!menuBar()->activeAction() && !menuBar()->actions().isEmpty())
        menuBar()->setActiveAction(menuBar()->actions().first());
}

void Form1::announceMenu(QAction *action) {
    // Qt reports one highlight through more than one signal; it is said once.
    if (!action || action->isSeparator())
        return;
    if (action == lastMenuAnnouncement_ && menuClock_.isValid() && menuClock_.elapsed() < 100)
        return;
    lastMenuAnnouncement_ = action;
    menuClock_.restart();
    const QString key = action->property("spokenKey").toString();
    Label1->setCaption(key.isEmpty() ? shownCaption(action) : shownCaption(action) + QStringLiteral(", ") + key);
}

void Form1::toggleSwitch(VbCheckBox *box) { box->setValue(box->value() != 0 ? 0 : 1); }

void Form1::LokalerOrdnerx_Click() {
    URLGoTo(qint64(winId()), appFolder());
    Label1->setCaption(u("Lokaler Ordner ist jetzt geöffnet!"));
}

void Form1::Auswahloeffenx_Click() {
    URLGoTo(qint64(winId()), Text2->text());
    Label1->setCaption(u("Lokale Auswahl ist jetzt geöffnet!"));
}

void Form1::ListeAktualisierenx_Click() {
    refreshFileList();
    Label1->setCaption(u("Lokale Liste wurde jetzt Aktualisiert!"));
    File1->setFocus(Qt::ShortcutFocusReason);
    Label1->setCaption(u("Und der Focus darauf gesetzt!"));
}

void Form1::StandartEinstellungx_Click() {
    formini().Command6->click();
    Label1->setCaption(u("Programm, auf Standart Einstellung zurückgesetzt!"));
    clickPage(QStringLiteral("Stop"));
    hilfelesen_Click();
}

void Form1::URLFocusx_Click() {
    Label1->setCaption(u("Focus ist auf URL Adresse."));
    Furl->setFocus(Qt::ShortcutFocusReason);
}

void Form1::URLAdreseloeschenx_Click() {
    Furl->setText(QString());
    Label1->setCaption(u("URL Adresse wurde gelöscht!"));
}

} // namespace lesemund
