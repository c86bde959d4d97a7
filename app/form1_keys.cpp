// Window keys, focus events and shell opening.
#include "app/form1.h"

#include "platform/shellopener.h"
#include "settings/formini.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>

namespace lesemund {

namespace {

// Enter and the keypad's Enter press the command button that has the focus,
// once per key press, in every window of the program. Buttons that answer
// Enter themselves (those of message boxes) are left to do so.
bool pressFocusedButton(QWidget *widget, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    auto *button = qobject_cast<QPushButton *>(widget);
    if (!button || !button->hasFocus() || button->autoDefault() || button->isDefault())
        return false;
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    if (!key->isAutoRepeat())
        button->click();
    return true;
}

} // namespace

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (!watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->window() != this)
        return pressFocusedButton(widget, event);

    switch (event->type()) {
    case QEvent::FocusIn: {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        // Coming back to the window announces the control only when the
        // focus now stands somewhere else than where it was announced last.
        if (reason == Qt::ActiveWindowFocusReason && widget == lastAnnounced_)
            break;
        // The menu bar lends the keyboard and gives it back: no new focus.
        if (reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason || widget == menuBar())
            break;
        lastAnnounced_ = widget;
        gotFocus(widget);
        break;
    }
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
            reason == Qt::MenuBarFocusReason)
            break;
        lostFocus(widget);
        break;
    }
    case QEvent::ShortcutOverride: {
        // The menu's Ctrl shortcuts win over the text fields' own bindings
        // (Ctrl+U would otherwise empty the address field).
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_F || key->key() == Qt::Key_O || key->key() == Qt::Key_U ||
             key->key() == Qt::Key_T))
            return true;
        break;
    }
    case QEvent::KeyPress: {
        auto *pressed = static_cast<QKeyEvent *>(event);
        if (pressed->key() == Qt::Key_F10 && pressed->modifiers() == Qt::NoModifier && !pressed->isAutoRepeat() &&
            !menuBar()->activeAction()) {
            openMenuFromKeyboard();
            return true;
        }
        // Key preview: the window sees each key press once, before the
        // control that has the focus, and never swallows it. A key event
        // that propagates to the parents is the same press: only the
        // delivery to the focused control counts.
        QWidget *focus = QApplication::focusWidget();
        if (focus ? widget != focus : widget != this)
            break;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->isAutoRepeat() && key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F5)
            break;
        // Tab moves the focus; it is not a key press of the control.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            break;
        const int code = vbKeyCode(key->key());
        Form_KeyDown(code, key->modifiers());
        if (widget == Text3)
            Text3_KeyDown(code);
        else if (widget == File1)
            File1_KeyDown(code);
        else if (widget == Furl)
            Furl_KeyDown(code);
        return pressFocusedButton(widget, event);
    }
    default:
        break;
    }
    return false;
}

int Form1::vbKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Delete: return 46;
    default: return 0;
    }
}

void Form1::Form_KeyDown(int keyCode, Qt::KeyboardModifiers) {
    switch (keyCode) {
    case 112: Fhilfe_Click(); break;
    case 113: FPause_Click(); break;
    case 114: Fweiter_Click(); break;
    case 115: Fstop_Click(); break;
    case 116: Fnochmal_Click(); break;
    default: break;
    }
}

void Form1::URLGoTo(qint64, const QString &url) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (services_.shell && !url.isEmpty()) {
        // A bare file name is opened from the current folder, as the shell
        // of the desktop would; everything else goes on unchanged.
        QString target = url;
        if (!url.contains(QLatin1String("://")) && QFileInfo(url).isRelative() &&
            QFileInfo::exists(url))
            target = QDir::current().absoluteFilePath(url);
        // Anything else that begins with "-" would reach the opener as an
        // option: it is refused, and the user hears why.
        if (target.startsWith(QLatin1Char('-')))
            Label1->setCaption(QString::fromUtf8("Die Adresse ist nicht gültig!"));
        else
            services_.shell->open(target);
    }
    QApplication::restoreOverrideCursor();
}

void Form1::Command1_Click() { URLGoTo(qint64(winId()), Furl->text()); }

void Form1::Command24_Click() { formini().Command6->click(); }

} // namespace lesemund
