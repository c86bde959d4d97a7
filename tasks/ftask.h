#pragma once
// The task window: lists the desktop's top-level windows in three columns
// (title, handle, process id), ends the process of a listed window, and,
// while it is loaded, polls the desktop every 200 ms so that the main window
// speaks the topmost window's title whenever it changes.
//
// Life cycle, as the main window drives it:
//  - Constructing the object builds the controls only; nothing polls yet.
//  - showTask() is the show request: it loads the window when it is not
//    loaded (fills the list, starts Timer1) and shows it. The first tick
//    runs a polling step and hides the window; it goes on polling unseen.
//  - closeFromMainWindow() is the path of switching the main window's
//    "Aktives Fenster automatisch sprechen" off: it loads the window if it
//    is not loaded, makes it visible again, stops Timer1 and presses
//    Command5 "Ende".
//  - "Ende" (or closing the window) unloads it: Timer1 stops, the window
//    hides, and unloaded() is emitted and onUnload called. The owner then
//    destroys the object with deleteLater() and builds a fresh one for the
//    next show request. An object that is kept instead loads again with the
//    controls as they are at design time (empty lists and comparison field,
//    "Sichtbare" selected, "Auch Titellose" off).
//
// Speaking goes through the main window: a polling step writes the title
// into the main window's window-name field (form1Text1) and, when the title
// differs from the last one, presses its "Text Lesen" button
// (form1Lesemund->click(), which runs its handler at once).
#include "platform/processcontrol.h"
#include "platform/timer.h"
#include "platform/windowlist.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace lesemund {

class Ftask : public QWidget {
    Q_OBJECT

public:
    Ftask(platform::WindowList &windows, platform::ProcessControl &processes, platform::TimerFactory &timers,
          QLineEdit *form1Text1, QAbstractButton *form1Lesemund, QWidget *parent = nullptr);
    ~Ftask() override;

    // The main window's show request: loads the window if needed, then
    // shows it on top.
    void showTask();
    // The main window's close path: visible again, Timer1 stopped, "Ende"
    // pressed (loading the window first if it is not loaded).
    void closeFromMainWindow();
    bool isLoaded() const { return loaded_; }

    // Called after the window has unloaded itself (after unloaded()).
    std::function<void()> onUnload;

    // Clears the three lists and fills them again from the desktop.
    void RefreshWindowList();
    // Appends the row of one window when it passes the filter.
    void AddWindowRow(const platform::WindowInfo &window);

    // The controls, by their names.
    QListWidget *List1(int index) const { return list1_.at(static_cast<size_t>(index)); }
    QLabel *Label1() const { return label1_; }
    QLabel *Label2() const { return label2_; }
    QLabel *Label3() const { return label3_; }
    QPushButton *Command1() const { return command1_; }
    QPushButton *Command2() const { return command2_; }
    QPushButton *Command3() const { return command3_; }
    QPushButton *Command4() const { return command4_; }
    QPushButton *Command5() const { return command5_; }
    QRadioButton *Option1() const { return option1_; }
    QRadioButton *Option2() const { return option2_; }
    QCheckBox *Check1() const { return check1_; }
    QLineEdit *Textvergleich() const { return textvergleich_; }
    platform::Timer &Timer1() const { return *timer1_; }

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void resetControls();
    void load();
    void unload();

    void Form_Load();
    void List1_Click(int index);
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Textvergleich_Change();
    void Timer1_Timer();

    platform::WindowList &windows_;
    platform::ProcessControl &processes_;
    QLineEdit *form1Text1_;
    QAbstractButton *form1Lesemund_;

    std::array<QListWidget *, 3> list1_{};
    QLabel *label1_ = nullptr;
    QLabel *label2_ = nullptr;
    QLabel *label3_ = nullptr;
    QPushButton *command1_ = nullptr;
    QPushButton *command2_ = nullptr;
    QPushButton *command3_ = nullptr;
    QPushButton *command4_ = nullptr;
    QPushButton *command5_ = nullptr;
    QRadioButton *option1_ = nullptr;
    QRadioButton *option2_ = nullptr;
    QCheckBox *check1_ = nullptr;
    QLineEdit *textvergleich_ = nullptr;
    std::unique_ptr<platform::Timer> timer1_;

    bool loaded_ = false;
    // Set while the list click handler synchronises the three lists.
    bool listClickGuard_ = false;
};

} // namespace lesemund
