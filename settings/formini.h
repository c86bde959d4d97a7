#pragma once
// The options window: owns the options file "optionen.ini" and applies it
// to the main window. Shown only on request; the main window presses its
// buttons from code while it stays hidden.
#include "platform/services.h"

#include <QListWidget>
#include <QPushButton>
#include <QWidget>

namespace lesemund {

class Form1;

class Formini : public QWidget {
    Q_OBJECT
public:
    Formini(Form1 &main, const platform::Services &services, QWidget *parent = nullptr);

    QPushButton *Command8 = nullptr;     // "auf": bring up the main window
    QPushButton *Command9 = nullptr;     // "Optionen Einlesen": load
    QPushButton *Command5 = nullptr;     // "speichern": save
    QListWidget *List1 = nullptr;        // the default file, line by line
    QPushButton *Command6 = nullptr;     // "Standart": reset
    QPushButton *URLspeichern = nullptr; // store the address only

    void Form_Load();
    void Command9_Click();
    bool Command5_Click(); // true when every value reached the file
    void Command6_Click();
    bool URLspeichern_Click(); // true when the address was written
    void Command8_Click();

    QString iniPath() const { return path_; }

    static const QStringList &defaultLines();

private:
    Form1 &main_;
    platform::Services services_;
    QString path_;
};

} // namespace lesemund
