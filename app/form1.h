#pragma once
// The main window "Tastvolk Lesemund". Its controls keep the designer's
// names; its behaviour sits in handlers named after control and event. The
// handlers are grouped by subsystem: app/ (start-up, shutdown, keys, menu),
// app/form1_speech.cpp (the speech channel), guidance/ (focus
// announcements, switches, watchers), texttools/, documents/, web/.
#include "app/scratchfield.h"
#include "platform/services.h"
#include "platform/timer.h"
#include "speech/voicesettings.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <memory>
#include <optional>

namespace lesemund {

// The maker's web server. Its real host is not known yet; a reserved
// example host stands in until it is.
inline const QString kMakerServer = QStringLiteral("http://www.tastvolk.example");

class Formini;
class Form2;
class Ftask;

// A check box with the three states 0 (off), 1 (on) and 2 (grey). Setting
// the value runs the change handler only when the state really changes.
class VbCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    int value() const;
    void setValue(int v);
};

// The announcement label. Every assignment of a caption counts as a change,
// the same text again included, so the user hears an answer to every action.
class AnnouncementLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void setCaption(const QString &text);
    QString caption() const { return text(); }
signals:
    void captionAssigned();
};

// A text box that is never shown: it keeps a text of any length for the
// program's own use (the watchers' comparison copy), with no limit on its
// length and no layout work.
class HiddenTextField : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    QString text() const { return text_; }
    void setText(const QString &text) { text_ = text; }

private:
    QString text_;
};

// The file list. Nothing is selected until the user chooses; the first
// arrow key then selects the entry that stands under the cursor, instead
// of jumping past it.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Which page button a speech request clicks.
enum class SpeechButton { None, user1, user2, fenster1, Hilfe, ReadingMode };
enum class SpeechFile { Text, Window };

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(platform::Services services, QWidget *parent = nullptr);
    ~Form1() override;

    // ---- visible controls -------------------------------------------------
    FileListBox *File1 = nullptr;
    QPushButton *Command17 = nullptr, *Command13 = nullptr, *Command11 = nullptr,
                *Command12 = nullptr;
    QRadioButton *Option1[2] = {nullptr, nullptr};
    VbCheckBox *Check1 = nullptr, *Check2 = nullptr, *Check3 = nullptr, *Check4 = nullptr;
    ScratchField *Text3 = nullptr;
    QPushButton *Command15 = nullptr, *Fhilfe = nullptr;
    QLineEdit *Furl = nullptr;
    QPushButton *Command14 = nullptr, *Command1 = nullptr, *chat1 = nullptr, *chat2 = nullptr,
                *Command24 = nullptr, *Command25 = nullptr, *singen = nullptr,
                *Command21 = nullptr, *Fexit = nullptr, *FPause = nullptr, *Fweiter = nullptr,
                *Fstop = nullptr, *Fnochmal = nullptr;
    QLabel *WebBrowser1 = nullptr; // shows the state of the speech page
    QLineEdit *Text1 = nullptr;
    QGroupBox *Frame1 = nullptr, *Frame2 = nullptr, *Frame3 = nullptr, *Frame4 = nullptr,
              *Frame5 = nullptr, *Frame6 = nullptr;
    AnnouncementLabel *Label1 = nullptr;

    // ---- auxiliary controls (outside the visible area, but Text2 and Check4)
    QLabel *lesemund1 = nullptr;  // the voice directive
    QLineEdit *Text4 = nullptr;   // options-changed marker
    QLineEdit *Text2 = nullptr;   // bare name of the selected document
    HiddenTextField *vergleichsfeld = nullptr;
    QPushButton *Command26 = nullptr, *Command27 = nullptr, *lesemund = nullptr,
                *Command2 = nullptr, *Command3 = nullptr, *Command6 = nullptr,
                *Command7 = nullptr, *Command10 = nullptr, *Command23 = nullptr,
                *Command5 = nullptr, *Command9 = nullptr, *Command16 = nullptr,
                *Command4 = nullptr, *Command22 = nullptr, *Command8 = nullptr,
                *Command18 = nullptr, *Command19 = nullptr, *Command20 = nullptr,
                *vergleich = nullptr, *URLlesen = nullptr, *URLspeichern = nullptr;
    QPushButton *lokalpfad = nullptr;  // a label in the designer; a click target here
    QPushButton *hilfelesen = nullptr; // likewise: speaks the announcement

    std::unique_ptr<platform::Timer> Timer1, Timer2, Timer3, Timer4, Timer5;

    // ---- start-up and shutdown --------------------------------------------
    void Form_Load();
    void Form_QueryUnload();
    void Fexit_Click();
    void Exitx_Click();
    void Command26_Click();
    void Command24_Click();

    // ---- speech channel ---------------------------------------------------
    void SpeakRequest(SpeechFile file, const QString &text, bool directive, bool lineEnd,
                      SpeechButton button);
    void clickPage(const QString &button);
    void hilfelesen_Click();
    // Sets Label1 and has it spoken also while the buttons are not announced:
    // for what the listener asked for or must know.
    void announceAlways(const QString &text);
    void lesemund_Click();
    void Command6_Click();
    void Command2_Click();
    void Command3_Click();
    void Command15_Click();
    void Command21_Click();
    void Command7_Click();
    void Option1_Click(int index);

    // ---- speech controls and help -----------------------------------------
    void Fhilfe_Click();
    void FPause_Click();
    void Fweiter_Click();
    void Fstop_Click();
    void Fnochmal_Click();
    void Command10_Click();
    void Command23_Click();

    // ---- window keys and shell opening -------------------------------------
    void Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    void URLGoTo(qint64 hwnd, const QString &url);
    void Command1_Click();

    // ---- text tools ---------------------------------------------------------
    void Parsing();
    void Command5_Click();
    void Command9_Click();
    void Text3_KeyDown(int keyCode);
    void File1_KeyDown(int keyCode);
    void Furl_KeyDown(int keyCode);
    static int vbKeyCode(int qtKey);

    // ---- internet reading ----------------------------------------------------
    void FetchUrlText();
    void Command20_Click();
    void Command8_Click();
    void Command14_Click();
    void Command18_Click();
    void Command19_Click();
    void Timer5_Timer();
    bool addressHas(const QString &marker) const;
    // The marker table: ".txt", ".doc", ".rtf", ".ok", each tested in turn.
    void forEachMarker(const std::function<void()> &text, const std::function<void()> &document,
                       const std::function<void()> &ok);
    void URLlesen_Click();
    void URLspeichern_Click();
    void Command25_Click();
    void vergleich_Click();
    void chat1_Click();
    void chat2_Click();
    void singen_Click();

    // ---- local documents --------------------------------------------------------
    void ExtractDocumentText(const QString &path);
    void File1_Click();
    void File1_DblClick();
    void Command11_Click();
    void Command12_Click();
    void Command13_Click();
    void lokalpfad_Click();
    void Command17_Click();
    void Command4_Click();
    void Command16_Click();
    void Command22_Click();
    void refreshFileList();
    QString selectedFileName() const;

    // ---- menu ----------------------------------------------------------------------
    QAction *menuAction(const QString &name) const; // by its name, e.g. "URLFocusx"
    void toggleSwitch(VbCheckBox *box);
    void LokalerOrdnerx_Click();
    void Auswahloeffenx_Click();
    void ListeAktualisierenx_Click();
    void StandartEinstellungx_Click();
    void URLFocusx_Click();
    void URLAdreseloeschenx_Click();
    void openMenuFromKeyboard();
    void announceMenu(QAction *action);

    // ---- the listener's voice ----------------------------------------------------
    // The voice settings the window holds, kept with the options: none while
    // the speech page's own choice holds (an options file without them and
    // no change by the user).
    const std::optional<speech::VoiceSettings> &heldVoice() const { return voice_; }
    // The voice that speaks now: the held one, else the page's own.
    speech::VoiceSettings currentVoice() const;
    // Holds `voice` and hands it to the speech page at once.
    void holdVoice(const speech::VoiceSettings &voice);
    // Back to the standard voice: nothing held, the page gets the defaults.
    void dropVoice();
    void Schnellerx_Click();
    void Langsamerx_Click();
    void Hoeherx_Click();
    void Tieferx_Click();
    void Lauterx_Click();
    void Leiserx_Click();
    void Stimmewechselnx_Click();
    void Sprachausgabewechselnx_Click();

    // ---- guidance ------------------------------------------------------------
    void Label1_Change();
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Check4_Click();
    void Timer1_Timer();
    void Timer4_Timer();
    void gotFocus(QWidget *control);
    void lostFocus(QWidget *control);
    void describeReadingMode();

    // ---- other windows ---------------------------------------------------------
    Formini &formini();    // created hidden on first use
    Form2 &form2();        // created hidden on first use
    Ftask *ftask() const;  // the task window while it is loaded
    Ftask *taskWindow();   // creates it when needed (null without a window list)
    void closeTaskWindow();

    // ---- helpers ------------------------------------------------------------------
    const platform::Services &services() const { return services_; }
    QString appFolder() const { return services_.appFolder; }
    QString dataFolder() const { return services_.dataFolder(); }
    // Sets a control's background from a 24-bit blue-green-red value (a
    // value with the top bit set names a system colour).
    static void setBackColor(QWidget *w, quint32 bgr);
    static quint32 backColor(const QWidget *w);

    // The message box of the save question. Tests replace it.
    std::function<bool()> askSaveQuestion;
    // The modal box that holds the program while a failed save is spoken;
    // empty: an OK box titled "Warnung". Tests replace it.
    std::function<void()> showSaveFailure;
    // Ends the process; tests replace it.
    std::function<void()> endProcess;

    static constexpr quint32 kYellow = 0x80FFFF;
    static constexpr quint32 kRed = 0x0000FF;
    static constexpr quint32 kWhite = 0xFFFFFF;
    static constexpr quint32 kFace = 0x8000000F;
    static constexpr quint32 kGrey = 0x808080;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void connectHandlers();
    void setUpFocusTable();
    void setTabOrder();
    QRect twips(int left, int top, int width, int height) const;
    template <class W> W *place(QWidget *parent, const char *name, int l, int t, int w, int h);
    QPushButton *auxButton(const char *name, const QString &caption);
    QLineEdit *auxField(const char *name, const QString &text);

    struct FocusRow {
        std::function<QString()> text; // empty function: no announcement
        quint32 highlight = 0;         // 0: none
        quint32 blur = 0;              // 0: none
        bool textFirst = true;
    };
    QHash<QWidget *, FocusRow> focusRows_;

    platform::Services services_;
    double scale_ = 1.0;
    Formini *formini_ = nullptr;
    Form2 *form2_ = nullptr;
    Ftask *ftask_ = nullptr; // while the task window is loaded
    bool windowNoticeSaid_ = false; // the desktop's windows cannot be read: said once
    bool closing_ = false;
    bool pageReady_ = false; // the speech page takes clicks once the load has ended
    QPointer<QWidget> lastAnnounced_;
    QPointer<QAction> lastMenuAnnouncement_;
    QElapsedTimer menuClock_;
    std::optional<speech::VoiceSettings> voice_;

    void turnVoiceDial(int speech::VoiceSettings::*value, bool up);
    void changeVoice(const speech::VoiceSettings &voice, const QString &announcement);
};

} // namespace lesemund
