#include "tasks/ftask.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>

namespace lesemund {
namespace {

constexpr int Timer1Interval = 200;

// The text of the selected row, empty when no row is selected.
QString selectedText(const QListWidget *list) {
    const QListWidgetItem *item = list->currentItem();
    return item ? item->text() : QString();
}

// The first visible row. The lists scroll by whole rows, so the scroll
// position is that row's index.
int topIndex(QListWidget *list) {
    list->doItemsLayout();
    return list->verticalScrollBar()->value();
}

void setTopIndex(QListWidget *list, int row) {
    list->doItemsLayout();
    list->verticalScrollBar()->setValue(row);
}

} // namespace

Ftask::Ftask(platform::WindowList &windows, platform::ProcessControl &processes, platform::TimerFactory &timers,
             QLineEdit *form1Text1, QAbstractButton *form1Lesemund, QWidget *parent)
    : QWidget(parent), windows_(windows), processes_(processes), form1Text1_(form1Text1),
      form1Lesemund_(form1Lesemund), timer1_(timers.create(Timer1Interval)) {
    setObjectName(QStringLiteral("Ftask"));
    if (parent)
        setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("..."));
    buildControls();
    timer1_->setInterval(Timer1Interval);
    timer1_->onTimeout = [this] { Timer1_Timer(); };
}

Ftask::~Ftask() {
    if (timer1_) {
        timer1_->stop();
        timer1_->onTimeout = nullptr;
    }
}

void Ftask::buildControls() {
    for (int i = 0; i < 3; ++i) {
        auto *list = new QListWidget(this);
        list->setObjectName(QStringLiteral("List1_%1").arg(i));
        list->setProperty("index", i);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
        list->setUniformItemSizes(true);
        list1_[static_cast<size_t>(i)] = list;
        connect(list, &QListWidget::currentRowChanged, this, [this, i] { List1_Click(i); });
        // A click on the row that is selected already changes no row, but
        // still lines the lists up.
        connect(list, &QListWidget::itemClicked, this, [this, i] { List1_Click(i); });
    }

    auto makeLabel = [this](const char *name, const QString &caption) {
        auto *label = new QLabel(caption, this);
        label->setObjectName(QString::fromLatin1(name));
        return label;
    };
    label1_ = makeLabel("Label1", QStringLiteral("hWnd"));
    label2_ = makeLabel("Label2", QStringLiteral("Titel"));
    label3_ = makeLabel("Label3", QStringLiteral("Prozess ID"));

    auto makeButton = [this](const char *name, const QString &caption) {
        auto *button = new QPushButton(caption, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        return button;
    };
    command1_ = makeButton("Command1", QStringLiteral("Refresh"));
    command2_ = makeButton("Command2", QStringLiteral("Task beenden"));
    command3_ = makeButton("Command3", QStringLiteral("Aktives Fenster Sprechen"));
    command4_ = makeButton("Command4", QStringLiteral("Command4"));
    command5_ = makeButton("Command5", QStringLiteral("Ende"));

    option1_ = new QRadioButton(QStringLiteral("Sichtbare"), this);
    option1_->setObjectName(QStringLiteral("Option1"));
    option2_ = new QRadioButton(QStringLiteral("Alle"), this);
    option2_->setObjectName(QStringLiteral("Option2"));
    check1_ = new QCheckBox(QStringLiteral("Auch Titellose"), this);
    check1_->setObjectName(QStringLiteral("Check1"));
    textvergleich_ = new QLineEdit(this);
    textvergleich_->setObjectName(QStringLiteral("Textvergleich"));
    resetControls();

    // On screen: titles left, handles in the middle, process ids right.
    auto *grid = new QGridLayout(this);
    grid->addWidget(label2_, 0, 0);
    grid->addWidget(label1_, 0, 1);
    grid->addWidget(label3_, 0, 2);
    grid->addWidget(List1(1), 1, 0);
    grid->addWidget(List1(0), 1, 1);
    grid->addWidget(List1(2), 1, 2);
    grid->setColumnStretch(0, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    auto *filters = new QHBoxLayout;
    filters->addWidget(option1_);
    filters->addWidget(option2_);
    filters->addWidget(check1_);
    filters->addStretch();
    filters->addWidget(command1_);
    grid->addLayout(filters, 2, 0, 1, 3);
    auto *commands = new QHBoxLayout;
    commands->addWidget(command2_);
    commands->addWidget(command3_);
    commands->addWidget(command4_);
    commands->addWidget(command5_);
    grid->addLayout(commands, 3, 0, 1, 3);
    grid->addWidget(textvergleich_, 4, 0, 1, 3);
    resize(640, 420);

    // Tab order: List1(0), Command1, List1(1), Option1, Option2, List1(2),
    // Check1, Command2, Command3, Textvergleich, Command4, Command5.
    const QList<QWidget *> order = {List1(0), command1_, List1(1), option1_,      option2_,  List1(2),
                                    check1_,  command2_, command3_, textvergleich_, command4_, command5_};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(command1_, &QPushButton::clicked, this, [this] { RefreshWindowList(); });
    connect(option1_, &QRadioButton::clicked, this, [this] { RefreshWindowList(); });
    connect(option2_, &QRadioButton::clicked, this, [this] { RefreshWindowList(); });
    connect(check1_, &QCheckBox::toggled, this, [this] { RefreshWindowList(); });
    connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(command3_, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(command4_, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(command5_, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(textvergleich_, &QLineEdit::textChanged, this, [this] { Textvergleich_Change(); });
}

// The controls as they are when the window is loaded: empty lists, empty
// comparison field, "Sichtbare" selected, "Auch Titellose" off. No handler
// runs for these settings.
void Ftask::resetControls() {
    for (QListWidget *list : list1_) {
        const QSignalBlocker block(list);
        list->clear();
    }
    {
        const QSignalBlocker block1(option1_);
        const QSignalBlocker block2(option2_);
        option1_->setChecked(true);
    }
    {
        const QSignalBlocker block(check1_);
        check1_->setChecked(false);
    }
    {
        const QSignalBlocker block(textvergleich_);
        textvergleich_->clear();
    }
    listClickGuard_ = false;
}

void Ftask::load() {
    if (loaded_)
        return;
    resetControls();
    loaded_ = true;
    Form_Load();
    timer1_->start();
}

void Ftask::unload() {
    if (!loaded_)
        return;
    timer1_->stop();
    hide();
    loaded_ = false;
    emit unloaded();
    if (onUnload)
        onUnload();
}

void Ftask::showTask() {
    load();
    show();
    raise();
}

void Ftask::closeFromMainWindow() {
    load();
    show();
    timer1_->stop();
    command5_->click();
}

void Ftask::closeEvent(QCloseEvent *event) {
    unload();
    event->accept();
}

void Ftask::Form_Load() { RefreshWindowList(); }

void Ftask::RefreshWindowList() {
    // Clearing a list selects nothing and runs no click handler.
    for (QListWidget *list : list1_) {
        const QSignalBlocker block(list);
        list->clear();
    }
    const platform::WindowSnapshot desktop = windows_.snapshot();
    if (!desktop.available)
        return;
    AddWindowRow(desktop.desktop);
    for (const platform::WindowInfo &window : desktop.windows)
        AddWindowRow(window);
}

void Ftask::AddWindowRow(const platform::WindowInfo &window) {
    const bool all = option2_->isChecked();
    const bool titleless = check1_->isChecked();
    const bool passes = (all || (window.visible && window.border)) && (!window.title.isEmpty() || titleless);
    if (!passes)
        return;
    // Appending selects nothing, so no click handler runs.
    const QSignalBlocker block0(List1(0));
    const QSignalBlocker block1(List1(1));
    const QSignalBlocker block2(List1(2));
    List1(0)->addItem(QString::number(window.handle));
    List1(1)->addItem(window.title);
    List1(2)->addItem(QString::number(window.processId));
}

void Ftask::List1_Click(int index) {
    // Selecting a row in the other lists below calls this handler again.
    if (listClickGuard_)
        return;
    listClickGuard_ = true;
    QListWidget *clicked = List1(index);
    const int row = clicked->currentRow();
    const int top = topIndex(clicked);
    for (QListWidget *list : list1_) {
        if (list->currentRow() != row)
            list->setCurrentRow(row);
        setTopIndex(list, top);
    }
    listClickGuard_ = false;
    if (form1Text1_)
        form1Text1_->setText(selectedText(List1(1)));
}

void Ftask::Command2_Click() {
    if (List1(2)->currentRow() < 0)
        return;
    // Text that is not a 32-bit whole number leaves the id at 0, which
    // opens nothing.
    bool ok = false;
    qint32 pid = selectedText(List1(2)).trimmed().toInt(&ok);
    if (!ok)
        pid = 0;
    const platform::ProcessControl::Handle handle =
        processes_.openProcess(platform::ProcessControl::TerminateRight, false, pid);
    processes_.terminateProcess(handle, 1);
    processes_.closeHandle(handle);
}

// One polling step.
void Ftask::Command3_Click() {
    RefreshWindowList();
    // The lists were just cleared, so selecting row 0 is a change and the
    // list click handler runs: all three lists select row 0 and the main
    // window's window-name field gets the first row's title. With no rows
    // there is nothing to select.
    List1(2)->setCurrentRow(0);
    // An unchanged title changes nothing and so says nothing.
    textvergleich_->setText(selectedText(List1(1)));
}

void Ftask::Command4_Click() {
    const QString verdict = textvergleich_->text() == selectedText(List1(1)) ? QStringLiteral("gleich")
                                                                             : QStringLiteral("nicht gleich");
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), verdict, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("Command4Message"));
    box.exec();
}

void Ftask::Command5_Click() { unload(); }

void Ftask::Textvergleich_Change() {
    if (form1Lesemund_)
        form1Lesemund_->click();
}

void Ftask::Timer1_Timer() {
    Command3_Click();
    hide();
}

} // namespace lesemund
