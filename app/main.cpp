// Tastvolk Lesemund: a German speaking assistant for blind users.
#include "app/form1.h"
#include "platform/services.h"

#include <QApplication>

#include <cstdio>
#include <unistd.h>

namespace {

// While the window system is being opened, Qt's own messages are held back:
// if no desktop can be reached, Qt ends the process with an abort and a
// page of English text. The user gets one German line and exit status 1
// instead; on success the held messages are passed on as usual.
bool openingDesktop = false;
QStringList heldMessages;

void startupMessages(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (openingDesktop && type == QtFatalMsg) {
        std::fputs("Tastvolk Lesemund: Keine grafische Arbeitsfläche gefunden. Bitte in einer "
                   "Desktop-Sitzung (X11 oder Wayland) starten oder DISPLAY setzen, "
                   "zum Beispiel: DISPLAY=:0 tastvolk-lesemund\n",
                   stderr);
        std::fflush(stderr);
        _exit(1);
    }
    if (openingDesktop) {
        heldMessages << message;
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv) {
    // In a Wayland session the program is a Wayland client of its own, and
    // X11 (XWayland) only where Wayland cannot be reached.
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (wayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    // Read through the accessibility bus, the program's own windows are
    // listed like any other program's only when it is on that bus itself.
    if (lesemund::platform::sessionWindowList() == lesemund::platform::WindowListKind::AccessibilityBus &&
        qEnvironmentVariableIsEmpty("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"))
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    openingDesktop = true;
    qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    openingDesktop = false;
    qInstallMessageHandler(nullptr);
    for (const QString &message : std::as_const(heldMessages))
        std::fprintf(stderr, "%s\n", qPrintable(message));

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
