#include "app/form1.h"

#include "app/questionbox.h"
#include "platform/browsercontrol.h"
#include "settings/formini.h"
#include "settings/form2.h"
#include "tasks/ftask.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

namespace lesemund {

// ---------------------------------------------------------------------------
// VbCheckBox and AnnouncementLabel

int VbCheckBox::value() const {
    switch (checkState()) {
    case Qt::Unchecked: return 0;
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    }
    return 0;
}

void VbCheckBox::setValue(int v) {
    if (v < 0 || v > 2)
        return;
    if (v == 2)
        setTristate(true);
    setCheckState(v == 0 ? Qt::Unchecked : v == 1 ? Qt::Checked : Qt::PartiallyChecked);
}

void AnnouncementLabel::setCaption(const QString &text) {
    setText(text);
    emit captionAssigned();
}

void FileListBox::keyPressEvent(QKeyEvent *event) {
    const bool arrow = event->key() == Qt::Key_Down || event->key() == Qt::Key_Up;
    if (arrow && count() > 0 && selectedItems().isEmpty() && event->modifiers() == Qt::NoModifier) {
        const int row = currentRow() < 0 ? 0 : currentRow();
        setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        return;
    }
    QListWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// Construction

namespace {
constexpr int kClientWidth = 8295; // twips
constexpr int kClientHeight = 8070;
// Hidden helpers lie left of the client area, where nothing is drawn.
constexpr int kOutside = -4000;

QFont formFont(double points, bool bold = true) {
    // A narrow sans like the one the layout was drawn with; DejaVu where
    // Liberation is missing.
    QFont f(QStringLiteral("Liberation Sans"));
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}
// A caption wider than its box is drawn a little narrower, down to three
// quarters of its width, so that it is shown whole in the box's own size.
void fitCaption(QAbstractButton *button) {
    QFont font = button->font();
    const int indicator = button->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button) +
                          button->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, button) + 4;
    for (int stretch = 95; stretch >= 75; stretch -= 5) {
        if (QFontMetrics(font).horizontalAdvance(button->text()) + indicator <= button->width())
            break;
        font.setStretch(stretch);
    }
    button->setFont(font);
}

} // namespace

Form1::Form1(platform::Services services, QWidget *parent)
    : QMainWindow(parent), services_(std::move(services)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tastvolk Lesemund"));
    // Controls are placed in twips; 15 twips are one pixel at 96 dpi, and
    // the layout grows with the screen's logical resolution.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        scale_ = std::max(1.0, screen->logicalDotsPerInch() / 96.0);

    askSaveQuestion = [this] { return QuestionBox::ask(this); };
    endProcess = [] { QCoreApplication::exit(0); };

    buildControls();
    buildMenu();
    setTabOrder();
    setUpFocusTable();
    connectHandlers();

    // Fixed single border, no maximise box, a minimise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    const QRect client = twips(0, 0, kClientWidth, kClientHeight);
    centralWidget()->setFixedSize(client.size());
    adjustSize();
    setFixedSize(sizeHint());
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    Form_Load();
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
    delete formini_;
    delete form2_;
    delete ftask_;
}

QRect Form1::twips(int left, int top, int width, int height) const {
    auto px = [this](int tw) { return int(std::lround(tw / 15.0 * scale_)); };
    return QRect(px(left), px(top), px(width), px(height));
}

template <class W> W *Form1::place(QWidget *parent, const char *name, int l, int t, int w, int h) {
    W *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twips(l, t, w, h));
    widget->setFont(formFont(8.25));
    return widget;
}

QPushButton *Form1::auxButton(const char *name, const QString &caption) {
    auto *b = place<QPushButton>(centralWidget(), name, kOutside, 0, 1200, 372);
    b->setText(caption);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QLineEdit *Form1::auxField(const char *name, const QString &text) {
    auto *f = place<QLineEdit>(centralWidget(), name, kOutside, 600, 1200, 288);
    f->setText(text);
    f->setFocusPolicy(Qt::NoFocus);
    return f;
}

void Form1::buildControls() {
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, QColor(int(kGrey & 0xFF), int((kGrey >> 8) & 0xFF), int(kGrey >> 16)));
    client->setPalette(pal);

    // The border runs along the frame's top edge with the caption just inside
    // it, so that the line crosses none of the controls placed in the frame.
    const QString frameStyle = QStringLiteral(
        "QGroupBox { border: 1px solid #404040; margin-top: 0px; padding-top: 0px; }"
        "QGroupBox::title { color: #0000FF; subcontrol-origin: border; subcontrol-position: top left;"
        " left: 6px; padding: 1px 2px; }");
    auto frame = [&](const char *name, const QString &caption, int l, int t, int w, int h) {
        auto *g = place<QGroupBox>(client, name, l, t, w, h);
        g->setTitle(caption);
        g->setStyleSheet(frameStyle);
        g->setFocusPolicy(Qt::NoFocus);
        return g;
    };
    // Frames first, so that the controls drawn over them lie on top.
    Frame3 = frame("Frame3", "Lesemund Bereich:", 120, 120, 3732, 3612);
    Frame4 = frame("Frame4", "URL Adressen Bereich:", 120, 6480, 8052, 1452);
    Frame5 = frame("Frame5", "Lokaler Bereich: TXT+ DOC+RTF", 4080, 120, 4092, 5052);
    Frame6 = frame("Frame6", "Zwischenspeicher Textfeld:", 120, 3840, 3732, 2412);
    Frame1 = frame("Frame1", "Frame1", 240, 2040, 2892, 492);
    Frame2 = frame("Frame2", QString(), 1800, 360, 372, 1812);

    WebBrowser1 = place<QLabel>(client, "WebBrowser1", 240, 360, 1812, 2292);
    WebBrowser1->setText(QStringLiteral("Sprachseite"));
    WebBrowser1->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    WebBrowser1->setAutoFillBackground(true);

    auto button = [&](QWidget *parent, const char *name, const QString &caption, int l, int t,
                      int w, int h, double points = 8.25) {
        auto *b = place<QPushButton>(parent, name, l, t, w, h);
        b->setText(caption);
        b->setFont(formFont(points));
        b->setFocusPolicy(Qt::StrongFocus);
        b->setAutoDefault(false);
        return b;
    };
    auto check = [&](const char *name, const QString &caption, int l, int t, int w, int h) {
        auto *c = place<VbCheckBox>(client, name, l, t, w, h);
        c->setText(caption);
        c->setFocusPolicy(Qt::StrongFocus);
        c->setAutoFillBackground(true);
        fitCaption(c);
        return c;
    };

    File1 = place<FileListBox>(client, "File1", 4200, 600, 3852, 2250);
    File1->setFont(formFont(9.75, false));
    File1->setFocusPolicy(Qt::StrongFocus);
    File1->setSelectionMode(QAbstractItemView::SingleSelection);
    refreshFileList();
    Command17 = button(client, "Command17", "Auswahl lesen", 4200, 3396, 3852, 372, 9.75);
    Command13 = button(client, "Command13", "Lokale Liste aktualisieren", 4200, 360, 3852, 252);
    Command13->setToolTip(QStringLiteral("Lokale Liste Aktualisieren"));
    Command11 = button(client, "Command11", QString::fromUtf8("&Lokaler Ordner öffnen"), 4200, 4080, 2052, 372);
    Command11->setToolTip(QString::fromUtf8("Lokaler Ordner öffnen"));
    Command12 = button(client, "Command12", QString::fromUtf8("&Auswahl öffnen"), 6360, 4080, 1692, 372);
    Option1[1] = place<QRadioButton>(client, "Option1_1", 4200, 4560, 3852, 252);
    Option1[1]->setText(QStringLiteral("Vorlesen bei neuer Datei Abbruch."));
    Option1[0] = place<QRadioButton>(client, "Option1_0", 4200, 4800, 3852, 252);
    Option1[0]->setText(QStringLiteral("Vorlesen ohne Abbruch bis Ende."));
    for (QRadioButton *o : Option1) {
        o->setAutoFillBackground(true);
        o->setFocusPolicy(Qt::StrongFocus);
    }
    Option1[1]->setChecked(true);
    for (QRadioButton *o : Option1)
        fitCaption(o);
    Check1 = check("Check1", "Aktives Fenster automatisch sprechen", 240, 2520, 3492, 252);
    Check1->setValue(1);
    Check2 = check("Check2", "Aktiver Button automatisch lesen, Aktiviert", 240, 2880, 3492, 252);
    Check2->setValue(1);
    Text3 = place<ScratchField>(client, "Text3", 240, 4080, 3492, 1692);
    Text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3->setTabChangesFocus(true);
    Command15 = button(client, "Command15", "Text vorlesen", 240, 5760, 3492, 372, 9.75);
    Fhilfe = button(client, "Fhilfe", "Hilfe Beschreibung [F1]", 4080, 5400, 4092, 372, 9.75);
    Furl = place<QLineEdit>(client, "Furl", 240, 7044, 7812, 288);
    Furl->setText(kMakerServer + QStringLiteral("/chat/hilfe.txt"));
    Check3 = check("Check3", QString::fromUtf8("Bei Text Veränderung automatisch lesen"), 240, 6720, 4212, 252);
    Command14 = button(client, "Command14", "URL Datei vorlesen", 240, 7440, 1932, 372);
    Command1 = button(client, "Command1", QString::fromUtf8("URL öffnen"), 2400, 7440, 1212, 372);
    chat1 = button(Frame4, "chat1", "Chat 1", 3960, 960, 1212, 372);
    chat2 = button(Frame4, "chat2", "Chat 2", 5160, 960, 1212, 372);
    Command24 = button(client, "Command24", "S&tandart Einstellung", 4080, 5880, 2172, 372);
    Command25 = button(client, "Command25", "URL-speichern", 6360, 5880, 1812, 372);
    Command25->setEnabled(false);
    singen = button(Frame4, "singen", "Singen", 4680, 120, 1092, 372);
    Command21 = button(Frame4, "Command21", "Adre&sse lesen", 6360, 120, 1572, 372);
    Fexit = button(client, "Fexit", "&Exit", 6960, 7440, 1092, 372, 9.75);
    FPause = button(client, "FPause", "Pause [F2]", 1920, 240, 1692, 372, 9.75);
    Fweiter = button(client, "Fweiter", "Weiter [F3]", 1920, 720, 1692, 372, 9.75);
    Fstop = button(client, "Fstop", "Stop [F4]", 1920, 1200, 1692, 372, 9.75);
    Fnochmal = button(client, "Fnochmal", "Nochmal [F5]", 1920, 1680, 1692, 372, 9.75);
    Text1 = place<QLineEdit>(client, "Text1", 240, 2160, 3372, 288);
    Text1->setText(QStringLiteral("Fenster Name"));
    Label1 = place<AnnouncementLabel>(Frame3, "Label1", 120, 3000, 3612, 612);
    Label1->setText(QStringLiteral("Hilfe"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    Label1->setStyleSheet(QStringLiteral("color: #0000FF;"));

    // The trap that closes the Tab cycle, left of the visible area.
    Command27 = button(client, "Command27", "Focus leer", kOutside, 7440, 1092, 372);

    // Auxiliary controls inside the visible area, never reached by Tab.
    Text2 = place<QLineEdit>(client, "Text2", 4200, 3096, 3852, 288);
    Text2->setText(QStringLiteral("Auswahl"));
    Text2->setFocusPolicy(Qt::ClickFocus);
    Check4 = check("Check4", QString::fromUtf8("Bei Text veränderung automatisch lesen"), 4200, 3840, 3852, 192);
    Check4->setFocusPolicy(Qt::ClickFocus); // skipped by Tab, focusable from code

    // Auxiliary controls outside the visible area.
    lesemund1 = place<QLabel>(client, "lesemund1", kOutside, 1200, 3000, 252);
    lesemund1->setText(QStringLiteral("\"#voice=name:qvx.de.tonra#\""));
    Text4 = auxField("Text4", QStringLiteral("optionen"));
    vergleichsfeld = place<HiddenTextField>(client, "vergleichsfeld", kOutside, 900, 1200, 288);
    vergleichsfeld->hide();
    Command26 = auxButton("Command26", "ja nein");
    lesemund = auxButton("lesemund", "Text Lesen");
    Command2 = auxButton("Command2", "vor lesen");
    Command3 = auxButton("Command3", "Adresse lesen");
    Command6 = auxButton("Command6", "Speichern1");
    Command7 = auxButton("Command7", "Lokal Pfad TXT");
    Command10 = auxButton("Command10", "Task");
    Command23 = auxButton("Command23", "INI");
    Command5 = auxButton("Command5", "Zeichen entfernen");
    Command9 = auxButton("Command9", "Zeichen ersetzen");
    Command16 = auxButton("Command16", "Auswahl lesen TXT");
    Command4 = auxButton("Command4", "Lokal DOC Datei");
    Command22 = auxButton("Command22", "auswahl vergleich");
    Command8 = auxButton("Command8", "http TXT lesen");
    Command18 = auxButton("Command18", "URL lesen Doc ");
    Command19 = auxButton("Command19", "doc");
    Command20 = auxButton("Command20", "txt");
    vergleich = auxButton("vergleich", "vergleich");
    URLlesen = auxButton("URLlesen", "URL einlesen");
    URLspeichern = auxButton("URLspeichern", "URL speichern");
    lokalpfad = auxButton("lokalpfad", "lokal");
    hilfelesen = auxButton("hilfelesen", "hilfelesen");
    // The three buttons with focus texts take the focus from code only.
    for (QPushButton *b : {Command18, URLlesen, URLspeichern})
        b->setFocusPolicy(Qt::ClickFocus);

    // Highlightable controls draw their own background.
    for (QWidget *w : {static_cast<QWidget *>(File1), static_cast<QWidget *>(Text3),
                       static_cast<QWidget *>(Furl)})
        setBackColor(w, kWhite);

    auto &timers = *services_.timers;
    Timer1 = timers.create(1500);
    Timer2 = timers.create(3000);
    Timer3 = timers.create(2000);
    Timer4 = timers.create(4000);
    Timer5 = timers.create(5000);
    // Timer1 and Timer4 run from the moment the window exists, so that the
    // options applied while it loads can still stop Timer1.
    Timer1->start();
    Timer4->start();
}

void Form1::setTabOrder() {
    const QList<QWidget *> order = {
        File1,    Command17, Command13, Check4,    Command11, Command12, Option1[1], Option1[0],
        Check1,   Check2,    Text3,     Command15, Fhilfe,    Furl,      Check3,     Command14,
        Command1, chat1,     chat2,     Command24, Command25, singen,    Command21,  Fexit,
        FPause,   Fweiter,   Fstop,     Fnochmal,  Command27, Text1};
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void Form1::connectHandlers() {
    auto on = [this](QPushButton *b, void (Form1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(Fexit, &Form1::Fexit_Click);
    on(Command26, &Form1::Command26_Click);
    on(hilfelesen, &Form1::hilfelesen_Click);
    on(lesemund, &Form1::lesemund_Click);
    on(Command6, &Form1::Command6_Click);
    on(Command2, &Form1::Command2_Click);
    on(Command3, &Form1::Command3_Click);
    on(Command15, &Form1::Command15_Click);
    on(Command21, &Form1::Command21_Click);
    on(Command7, &Form1::Command7_Click);
    on(Fhilfe, &Form1::Fhilfe_Click);
    on(FPause, &Form1::FPause_Click);
    on(Fweiter, &Form1::Fweiter_Click);
    on(Fstop, &Form1::Fstop_Click);
    on(Fnochmal, &Form1::Fnochmal_Click);
    on(Command10, &Form1::Command10_Click);
    on(Command23, &Form1::Command23_Click);
    on(Command1, &Form1::Command1_Click);
    on(Command5, &Form1::Command5_Click);
    on(Command9, &Form1::Command9_Click);
    on(Command24, &Form1::Command24_Click);
    on(Command8, &Form1::Command8_Click);
    on(Command14, &Form1::Command14_Click);
    on(Command18, &Form1::Command18_Click);
    on(Command19, &Form1::Command19_Click);
    on(Command20, &Form1::Command20_Click);
    on(vergleich, &Form1::vergleich_Click);
    on(URLlesen, &Form1::URLlesen_Click);
    on(URLspeichern, &Form1::URLspeichern_Click);
    on(Command25, &Form1::Command25_Click);
    on(chat1, &Form1::chat1_Click);
    on(chat2, &Form1::chat2_Click);
    on(singen, &Form1::singen_Click);
    on(Command11, &Form1::Command11_Click);
    on(Command12, &Form1::Command12_Click);
    on(Command13, &Form1::Command13_Click);
    on(Command17, &Form1::Command17_Click);
    on(Command4, &Form1::Command4_Click);
    on(Command16, &Form1::Command16_Click);
    on(Command22, &Form1::Command22_Click);
    on(lokalpfad, &Form1::lokalpfad_Click);
    connect(File1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!selectedFileName().isEmpty())
            File1_Click();
    });
    connect(File1, &QListWidget::itemDoubleClicked, this, [this] { File1_DblClick(); });

    for (int i = 0; i < 2; ++i)
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option1_Click(i);
        });
    connect(Check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::stateChanged, this, [this] { Check2_Click(); });
    connect(Check3, &QCheckBox::stateChanged, this, [this] { Check3_Click(); });
    connect(Check4, &QCheckBox::stateChanged, this, [this] { Check4_Click(); });
    connect(Label1, &AnnouncementLabel::captionAssigned, this, [this] { Label1_Change(); });

    Timer1->onTimeout = [this] { Timer1_Timer(); };
    Timer4->onTimeout = [this] { Timer4_Timer(); };
    Timer2->onTimeout = [this] { vergleich->click(); };
    Timer3->onTimeout = [this] { Command22->click(); };
    Timer5->onTimeout = [this] { Timer5_Timer(); };

    // Key preview and focus events of every control pass through here.
    qApp->installEventFilter(this);
}

// ---------------------------------------------------------------------------
// Colours

void Form1::setBackColor(QWidget *w, quint32 bgr) {
    if (!w)
        return;
    w->setProperty("BackColor", QVariant::fromValue<quint32>(bgr));
    QColor colour;
    if (bgr & 0x80000000u)
        colour = QApplication::palette().color(QPalette::Button);
    else
        colour = QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
    const QString css = QStringLiteral("background-color: %1;").arg(colour.name());
    if (qobject_cast<QPushButton *>(w))
        w->setStyleSheet(QStringLiteral("QPushButton { %1 border: 1px solid #404040; padding: 2px; }").arg(css));
    else
        w->setStyleSheet(css);
}

quint32 Form1::backColor(const QWidget *w) {
    const QVariant v = w ? w->property("BackColor") : QVariant();
    return v.isValid() ? v.value<quint32>() : kFace;
}

// ---------------------------------------------------------------------------
// Start-up and shutdown

void Form1::Form_Load() {
    // The page is ready only when the load has ended: what the options say
    // while they are applied is not spoken, so that the file list's
    // announcement is the first thing the user hears.
    pageReady_ = false;
    if (services_.speechPage)
        services_.speechPage->navigate(dataFolder() + QStringLiteral("/sp"));
    formini().Command9->click();
    pageReady_ = true;
}

void Form1::closeEvent(QCloseEvent *event) {
    // Closing cannot be cancelled: the question runs, then the process ends.
    if (!closing_) {
        closing_ = true;
        Form_QueryUnload();
    }
    event->accept();
    if (endProcess)
        endProcess();
}

void Form1::Form_QueryUnload() { Command26_Click(); }

void Form1::Fexit_Click() { close(); }

void Form1::Exitx_Click() { Fexit_Click(); }

namespace {
const char kSaveFailed[] = "Die Einstellungen konnten nicht gespeichert werden!";

void showSaveFailureBox(QWidget *parent) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Warnung"), QString::fromUtf8(kSaveFailed),
                    QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
} // namespace

void Form1::Command26_Click() {
    if (Text4->text() == QStringLiteral("optionen"))
        return;
    const QString question = QString::fromUtf8("Soll die Programm Änderungen gespeichert werden?");
    SpeakRequest(SpeechFile::Window,
                 question + QString::fromUtf8(" Buchstabe J. für Ja . N. für Nein!"), true, false,
                 SpeechButton::fenster1);
    const bool yes = askSaveQuestion ? askSaveQuestion() : false;
    if (!yes || formini().Command5_Click())
        return;
    // The process ends right after this: the box keeps it alive while the
    // message is spoken, until the user has heard it and closes the box.
    SpeakRequest(SpeechFile::Window, QString::fromUtf8(kSaveFailed), true, false,
                 SpeechButton::fenster1);
    if (showSaveFailure)
        showSaveFailure();
    else
        showSaveFailureBox(this);
}

// ---------------------------------------------------------------------------
// Other windows

Formini &Form1::formini() {
    if (!formini_)
        formini_ = new Formini(*this, services_);
    return *formini_;
}

Form2 &Form1::form2() {
    if (!form2_)
        form2_ = new Form2(services_);
    return *form2_;
}

} // namespace lesemund
