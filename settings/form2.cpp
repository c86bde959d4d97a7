#include "settings/form2.h"

#include "settings/inivalues.h"

#include <QVBoxLayout>

namespace lesemund {

Form2::Form2(const platform::Services &services, QWidget *parent)
    : QWidget(parent, Qt::Window), services_(services) {
    setObjectName(QStringLiteral("Form2"));
    auto *layout = new QVBoxLayout(this);
    auto label = [&](const char *name, const char *caption) {
        auto *l = new QLabel(QString::fromLatin1(caption), this);
        l->setObjectName(QString::fromLatin1(name));
        layout->addWidget(l);
        return l;
    };
    Label1 = label("Label1", "Label1");
    Label2 = label("Label2", "Label2");
    Label3 = label("Label3", "chat1php");
    Label4 = label("Label4", "chat2 php");
    Command9 = new QPushButton(QStringLiteral("Optionen Einlesen"), this);
    Command9->setObjectName(QStringLiteral("Command9"));
    layout->addWidget(Command9);
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    Form_Load();
}

void Form2::Form_Load() {
    path_ = services_.appFolder + QStringLiteral("/lesemund/chat.ini");
    Command9_Click();
}

void Form2::Command9_Click() {
    if (!services_.profiles)
        return;
    auto &store = *services_.profiles;
    const QString section = QStringLiteral("optionen");
    Label1->setText(ReadIniValue(store, path_, section, QStringLiteral("chat1")));
    Label2->setText(ReadIniValue(store, path_, section, QStringLiteral("chat2")));
    Label3->setText(ReadIniValue(store, path_, section, QStringLiteral("chat1+")));
    Label4->setText(ReadIniValue(store, path_, section, QStringLiteral("chat2+")));
}

} // namespace lesemund
