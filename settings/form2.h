#pragma once
// The chat settings holder: never shown, it keeps the four chat addresses
// of "chat.ini" as the captions of its labels.
#include "platform/services.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace lesemund {

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(const platform::Services &services, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr; // "chat1": address of chat 1's text
    QLabel *Label2 = nullptr; // "chat2": address of chat 2's text
    QLabel *Label3 = nullptr; // "chat1+": address of chat 1's page
    QLabel *Label4 = nullptr; // "chat2+": address of chat 2's page
    QPushButton *Command9 = nullptr; // "Optionen Einlesen": read the file

    void Form_Load();
    void Command9_Click();
    QString iniPath() const { return path_; }

private:
    platform::Services services_;
    QString path_;
};

} // namespace lesemund
