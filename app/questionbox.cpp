#include "app/questionbox.h"

#include <QKeyEvent>
#include <QPushButton>

namespace lesemund {

QuestionBox::QuestionBox(QWidget *parent) : QMessageBox(parent) {
    setObjectName(QStringLiteral("QuestionBox"));
    setWindowTitle(QStringLiteral("Warnung"));
    setText(QString::fromUtf8("Soll die Programm Änderungen gespeichert werden?"));
    setIcon(QMessageBox::NoIcon);
    QPushButton *yes = addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton *no = addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    yes->setObjectName(QStringLiteral("Ja"));
    no->setObjectName(QStringLiteral("Nein"));
    setDefaultButton(yes);
    setEscapeButton(no);
    yes->setAccessibleDescription(QStringLiteral("Buchstabe J"));
    no->setAccessibleDescription(QStringLiteral("Buchstabe N"));
}

void QuestionBox::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_J) {
        findChild<QPushButton *>(QStringLiteral("Ja"))->click();
        return;
    }
    if (event->key() == Qt::Key_N) {
        findChild<QPushButton *>(QStringLiteral("Nein"))->click();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

bool QuestionBox::ask(QWidget *parent) {
    QuestionBox box(parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == box.findChild<QPushButton *>(QStringLiteral("Ja"));
}

} // namespace lesemund
