#pragma once
// What the task window's tests share: a stand-in for the main window's two
// controls. The application object comes from the test program's entry.
#include "support/manualtimer.h"
#include "tasks/ftask.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

namespace lesemund::testing {

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

// The rows of one of the task window's columns.
inline QStringList column(const QListWidget *list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

} // namespace lesemund::testing
