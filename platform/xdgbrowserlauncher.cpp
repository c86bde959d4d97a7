#include "platform/xdgbrowserlauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace lesemund::platform {
namespace {

bool knownNewWindowName(const QString &fileName) {
    static const char *const families[] = {
        "firefox", "iceweasel", "librewolf", "waterfox",            // Firefox-like
        "chromium", "google-chrome", "chrome", "brave", "vivaldi",  // Chromium-like
        "microsoft-edge", "opera"};
    const QString name = fileName.toLower();
    for (const char *family : families) {
        if (name.startsWith(QLatin1String(family)))
            return true;
    }
    return false;
}

} // namespace

XdgBrowserLauncher::XdgBrowserLauncher(QString program) : program_(std::move(program)) {}

QString XdgBrowserLauncher::desktopBrowser() {
    for (const char *name : {"x-www-browser", "sensible-browser", "xdg-open"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

bool XdgBrowserLauncher::takesNewWindowOption(const QString &program) {
    if (program.isEmpty())
        return false;
    if (knownNewWindowName(QFileInfo(program).fileName()))
        return true;
    // A generic name such as x-www-browser is a link to the real browser.
    const QString path = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return false;
    const QString target = QFileInfo(path).canonicalFilePath();
    return !target.isEmpty() && knownNewWindowName(QFileInfo(target).fileName());
}

XdgBrowserLauncher::Command XdgBrowserLauncher::commandFor(const QString &url) const {
    Command command;
    command.program = program_.isEmpty() ? desktopBrowser() : program_;
    if (command.program.isEmpty())
        return command;
    if (takesNewWindowOption(command.program))
        command.arguments << QStringLiteral("--new-window");
    command.arguments << url;
    return command;
}

bool XdgBrowserLauncher::openNewWindow(const QString &url) {
    // Whatever begins with "-" would be read as an option of the browser.
    if (url.startsWith(QLatin1Char('-')))
        return false;
    const Command command = commandFor(url);
    if (command.program.isEmpty())
        return false;
    return QProcess::startDetached(command.program, command.arguments);
}

} // namespace lesemund::platform
