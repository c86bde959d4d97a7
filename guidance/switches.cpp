// The four automatic-reading switches and the two one-shot start-up timers.
#include "app/form1.h"

namespace lesemund {
namespace {
QString u(const char *text) { return QString::fromUtf8(text); }
} // namespace

void Form1::Check1_Click() {
    Text4->setText(QStringLiteral("neue optionen"));
    if (Check1->value() != 0) {
        Timer1->start();
        Label1->setCaption(u("Aktives Fenster automatisch sprechen."));
        hilfelesen_Click();
    }
    if (Check1->value() == 0) {
        Label1->setCaption(u("Aktives Fenster nicht mehr sprechen."));
        hilfelesen_Click();
        Timer1->stop();
        closeTaskWindow();
    }
}

void Form1::Check2_Click() {
    Text4->setText(QStringLiteral("neue optionen"));
    if (Check2->value() != 0)
        Label1->setCaption(u("Aktiver Button automatisch lesen. Ist aktiviert."));
    if (Check2->value() == 0) {
        Label1->setCaption(u("Aktiver Button automatisch lesen. Ist inaktiv."));
        hilfelesen_Click();
    }
}

void Form1::Check3_Click() {
    if (Check3->value() != 0) {
        Timer2->start();
        Label1->setCaption(u("Bei URL Adresse Text veränderung automatisch lesen. Ist aktiviert."));
        Check4->setValue(0);
        Text4->setText(QStringLiteral("neue optionen"));
    }
    if (Check3->value() == 0) {
        Timer2->stop();
        Label1->setCaption(u("Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv."));
        Text4->setText(QStringLiteral("neue optionen"));
    }
}

void Form1::Check4_Click() {
    Text4->setText(QStringLiteral("neue optionen"));
    if (Check4->value() != 0) {
        Timer3->start();
        Label1->setCaption(u("Bei Auswahlfeld Text veränderung automatisch lesen. Ist aktiviert."));
        Check3->setValue(0);
        hilfelesen_Click();
    }
    if (Check4->value() == 0) {
        Timer3->stop();
        Label1->setCaption(u("Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv."));
        hilfelesen_Click();
    }
}

void Form1::Timer1_Timer() {
    Command10_Click();
    Timer1->stop();
}

void Form1::Timer4_Timer() {
    Text4->setText(QStringLiteral("optionen"));
    Timer4->stop();
}

} // namespace lesemund
