// Tastvolk Lesemund: a German speaking assistant for blind users.
#include "app/form1.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tastvolk Lesemund"));
    QApplication::setDesktopFileName(QStringLiteral("tastvolk-lesemund"));
    // The other windows stay loaded while hidden; only closing the main
    // window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    lesemund::Form1 form(lesemund::platform::linuxServices(QCoreApplication::applicationDirPath()));
    form.show();
    form.activateWindow();
    // The focus starts on the file list, whose announcement is the first
    // thing the user hears.
    form.File1->setFocus(Qt::OtherFocusReason);
    return app.exec();
}
