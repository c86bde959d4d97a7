// The address field's keys, the stored address and the chats.
#include "app/form1.h"

#include "app/textfile.h"
#include "platform/browserlauncher.h"
#include "docreaders/codepage.h"
#include "settings/form2.h"
#include "settings/formini.h"

#include <QSaveFile>

namespace lesemund {

void Form1::Furl_KeyDown(int keyCode) {
    if (keyCode == 13)
        Command18_Click();
    if (keyCode == 120)
        Command1_Click();
    if (keyCode == 46)
        Furl->setText(QString());
    Command25->setEnabled(true);
    Text4->setText(QStringLiteral("neue optionen"));
}

void Form1::URLlesen_Click() {
    Furl->setText(readAnsiTextFile(dataFolder() + QStringLiteral("/URL.txt")));
    Label1->setCaption(QStringLiteral("URL Adresse wurde eingelesen."));
}

void Form1::URLspeichern_Click() {
    QSaveFile out(dataFolder() + QStringLiteral("/URL.txt"));
    bool ok = out.open(QIODevice::WriteOnly);
    if (ok) {
        out.write(codepage::toAnsi(Furl->text()));
        ok = out.commit();
    }
    // A store that failed is said as such, never as a success.
    Label1->setCaption(ok ? QStringLiteral("Neue URL Adresse wurde gespeichert.")
                          : QStringLiteral("URL konnte nicht gespeichert werden!"));
}

void Form1::Command25_Click() {
    const bool ok = formini().URLspeichern_Click();
    Label1->setCaption(ok ? QStringLiteral("URL wurde gespeichert!")
                          : QStringLiteral("URL konnte nicht gespeichert werden!"));
    Command25->setEnabled(false);
}

namespace {
struct Chat {
    QLabel *page;
    QLabel *text;
    const char *message;
};
} // namespace

static void openChat(Form1 &w, int n) {
    Form2 &holder = w.form2();
    holder.Command9->click();
    const Chat chat = n == 1 ? Chat{holder.Label3, holder.Label1, "Chat 1."}
                             : Chat{holder.Label4, holder.Label2, "Chat 2."};
    // A page address that begins with "-" would reach the browser as an
    // option: it is not opened, and the user hears why, last.
    const bool valid = !chat.page->text().startsWith(QLatin1Char('-'));
    if (w.services().browser && valid)
        w.services().browser->openNewWindow(chat.page->text());
    w.clickPage(QStringLiteral("Stop"));
    w.Label1->setCaption(QString::fromLatin1(chat.message));
    w.Furl->setText(chat.text->text());
    w.Check3->setValue(1);
    if (!valid)
        w.Label1->setCaption(QString::fromUtf8("Die Chat Adresse ist nicht gültig!"));
}

void Form1::chat1_Click() { openChat(*this, 1); }
void Form1::chat2_Click() { openChat(*this, 2); }

void Form1::singen_Click() {
    Furl->setText(kMakerServer + QStringLiteral("/vokaset/auto/Singen/chor.txt"));
    Command8_Click();
}

} // namespace lesemund
