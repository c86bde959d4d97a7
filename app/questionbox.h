#pragma once
#include <QMessageBox>

namespace lesemund {

// The save question on closing: "Ja" and "Nein", chosen also with the
// plain keys J and N, no icon, title "Warnung".
class QuestionBox : public QMessageBox {
    Q_OBJECT
public:
    explicit QuestionBox(QWidget *parent = nullptr);
    // Shows the box modally; true for "Ja".
    static bool ask(QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace lesemund
