#pragma once
// What the task window's tests share: the application object, a stand-in
// for the main window's two controls, and the task window built on fakes.
#include "support/manualtimer.h"
#include "tasks/ftask.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <memory>

namespace lesemund::testing {

// The one application object of the test program, on the offscreen
// platform unless the environment names another.
inline void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_tasks";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Put first among a fixture's members, so that the application exists
// before any widget member is built.
struct ApplicationPresent {
    ApplicationPresent() { ensureApplication(); }
};

// The main window's window-name field `Text1` and its "Text Lesen" button
// `lesemund`; every press records what `Text1` held at that moment, which
// is what the main window would speak.
struct MainWindowStandIn {
    QLineEdit text1;
    QPushButton lesemund{QStringLiteral("Text Lesen")};
    QStringList spoken;

    MainWindowStandIn() {
        QObject::connect(&lesemund, &QPushButton::clicked, [this] { spoken << text1.text(); });
    }
};

} // namespace lesemund::testing
