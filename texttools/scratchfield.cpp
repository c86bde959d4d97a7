// The small text commands of the main window and the scratch field's keys.
#include "app/form1.h"
#include "texttools/textroutines.h"

#include <QMessageBox>

namespace lesemund {

void Form1::Parsing() {
    const QString text = Furl->text();
    QString copy;
    for (const QChar c : text) {
        if (c == QLatin1Char('/')) {
            QMessageBox::information(this, windowTitle(), QStringLiteral("treffer"));
            continue;
        }
        copy.append(c);
    }
    Furl->setText(copy);
}

void Form1::Command5_Click() { Parsing(); }

void Form1::Command9_Click() {
    QString text = Furl->text();
    Furl->setText(ZeichenErsetzen(text, QStringLiteral("/"), QStringLiteral("\\")));
}

void Form1::Text3_KeyDown(int keyCode) {
    switch (keyCode) {
    case 13: Command15_Click(); break; // the field still inserts its line break
    case 112:
        Label1->setCaption(QString::fromUtf8(
            "Zwischenspeicher Textfeld: Es kann ein Text in das Feld geschrieben werden der mit "
            "Enter-Taste vorgelesen wird. Mit der Entfernungstaste wird er entfernt!"));
        break;
    case 46: Text3->setText(QString()); break;
    default: break;
    }
}

} // namespace lesemund
