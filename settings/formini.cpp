#include "settings/formini.h"

#include "app/form1.h"
#include "docreaders/codepage.h"
#include "platform/iniprofilestore.h"
#include "settings/inivalues.h"

#include <QVBoxLayout>

namespace lesemund {
namespace {

const QString kSection = QStringLiteral("optionen");

// A whole number with blanks allowed around it; nothing when the text is
// not a number.
std::optional<int> wholeNumber(const QString &text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

// "Wahr"/"True" and "Falsch"/"False" in any case; a number is true unless 0.
std::optional<bool> lenientBool(const QString &text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("Wahr"), Qt::CaseInsensitive) == 0 ||
        t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QStringLiteral("Falsch"), Qt::CaseInsensitive) == 0 ||
        t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (ok)
        return n != 0;
    return std::nullopt;
}

void applyState(VbCheckBox *box, const QString &text) {
    if (const auto n = wholeNumber(text); n && *n >= 0 && *n <= 2)
        box->setValue(*n);
}

// The listener's voice has a section of its own. Its output is named by
// the speech engine behind it.
const QString kVoiceSection = QStringLiteral("stimme");
const QString kEmbedded = QStringLiteral("espeak");
const QString kDesktop = QStringLiteral("speechd");

int numberWithin(const QString &text, int low, int high, int fallback) {
    const auto n = wholeNumber(text);
    return n && *n >= low && *n <= high ? *n : fallback;
}

// The voice the section describes; none when the file has no such section.
// A value that is no number, lies outside its range or names no output
// gives that key's default.
std::optional<speech::VoiceSettings> readVoice(platform::ProfileStore &store, const QString &path) {
    using V = speech::VoiceSettings;
    auto read = [&](const char *key) { return ReadIniValue(store, path, kVoiceSection, QString::fromLatin1(key)); };
    const QString rate = read("Tempo"), pitch = read("Tonhoehe"), volume = read("Lautstaerke"),
                  name = read("Stimme"), output = read("Ausgabe");
    if (rate.isEmpty() && pitch.isEmpty() && volume.isEmpty() && name.isEmpty() && output.isEmpty())
        return std::nullopt;
    V voice;
    voice.rate = numberWithin(rate, V::kMinRate, V::kMaxRate, V::kDefaultRate);
    voice.pitch = numberWithin(pitch, V::kMinPercent, V::kMaxPercent, V::kDefaultPitch);
    voice.volume = numberWithin(volume, V::kMinPercent, V::kMaxPercent, V::kDefaultVolume);
    voice.voice = name;
    if (output.trimmed().compare(kDesktop, Qt::CaseInsensitive) == 0)
        voice.output = V::Output::Desktop;
    return voice;
}

} // namespace

const QStringList &Formini::defaultLines() {
    static const QStringList lines = {
        QStringLiteral("[optionen]"),
        QStringLiteral("AktivesFenster=1"),
        QStringLiteral("AktiverButton=1"),
        QStringLiteral("BeiTextURL=0"),
        QStringLiteral("BeiText=0"),
        QStringLiteral("LesenOhne1=Falsch"),
        QStringLiteral("LesenOhne=Wahr"),
        QStringLiteral("URLAdessenfeld=") + kMakerServer + QStringLiteral("/chat/chat1.ok"),
        QStringLiteral("stimme=#voice=name:qvx.de.tonra#"),
    };
    return lines;
}

Formini::Formini(Form1 &main, const platform::Services &services, QWidget *parent)
    : QWidget(parent, Qt::Window), main_(main), services_(services) {
    setObjectName(QStringLiteral("Formini"));
    setWindowTitle(QStringLiteral("..."));
    auto *layout = new QVBoxLayout(this);
    auto button = [&](const char *name, const char *caption) {
        auto *b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        layout->addWidget(b);
        return b;
    };
    Command8 = button("Command8", "auf");
    Command9 = button("Command9", "Optionen Einlesen");
    Command5 = button("Command5", "speichern");
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->addItems(defaultLines());
    layout->addWidget(List1);
    Command6 = button("Command6", "Standart");
    URLspeichern = button("URLspeichern", "URLspeichern");
    QWidget::setTabOrder(Command8, Command9);
    QWidget::setTabOrder(Command9, Command5);
    QWidget::setTabOrder(Command5, List1);
    QWidget::setTabOrder(List1, Command6);
    QWidget::setTabOrder(Command6, URLspeichern);

    connect(Command8, &QPushButton::clicked, this, [this] { Command8_Click(); });
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(URLspeichern, &QPushButton::clicked, this, [this] { URLspeichern_Click(); });

    Form_Load();
}

void Formini::Form_Load() {
    path_ = services_.appFolder + QStringLiteral("/lesemund/optionen.ini");
    // A program ended between writing a settings file's new copy and putting
    // it in place leaves the copy beside the file; it is of no further use.
    platform::removeWriteLeftovers(path_);
    platform::removeWriteLeftovers(services_.appFolder + QStringLiteral("/lesemund/chat.ini"));
}

void Formini::Command9_Click() {
    if (!services_.profiles)
        return;
    auto &store = *services_.profiles;
    auto read = [&](const char *key) {
        return ReadIniValue(store, path_, kSection, QString::fromLatin1(key));
    };
    applyState(main_.Check1, read("AktivesFenster"));
    main_.Option1[0]->setChecked(true);
    applyState(main_.Check2, read("AktiverButton"));
    applyState(main_.Check3, read("BeiTextURL"));
    applyState(main_.Check4, read("BeiText"));
    if (const auto b = lenientBool(read("LesenOhne")); b && *b)
        main_.Option1[1]->setChecked(true);
    main_.Furl->setText(read("URLAdessenfeld"));
    main_.lesemund1->setText(read("stimme"));
    // Without a voice section the page keeps its own choice; a voice the
    // window held before goes back to the defaults.
    if (const auto voice = readVoice(store, path_))
        main_.holdVoice(*voice);
    else if (main_.heldVoice())
        main_.dropVoice();
}

bool Formini::Command5_Click() {
    if (!services_.profiles)
        return false;
    auto &store = *services_.profiles;
    bool written = true;
    auto write = [&](const char *key, const QString &value) {
        written &= WriteIniValue(store, path_, kSection, QString::fromLatin1(key), value);
    };
    write("AktivesFenster", QString::number(main_.Check1->value()));
    write("AktiverButton", QString::number(main_.Check2->value()));
    write("BeiTextURL", QString::number(main_.Check3->value()));
    write("BeiText", QString::number(main_.Check4->value()));
    write("URLAdessenfeld", main_.Furl->text());
    write("LesenOhne", main_.Option1[1]->isChecked() ? QStringLiteral("Wahr") : QStringLiteral("Falsch"));
    write("LesenOhne1", main_.Option1[0]->isChecked() ? QStringLiteral("Wahr") : QStringLiteral("Falsch"));
    if (const auto &voice = main_.heldVoice()) {
        auto put = [&](const char *key, const QString &value) {
            written &= WriteIniValue(store, path_, kVoiceSection, QString::fromLatin1(key), value);
        };
        put("Tempo", QString::number(voice->rate));
        put("Tonhoehe", QString::number(voice->pitch));
        put("Lautstaerke", QString::number(voice->volume));
        put("Stimme", voice->voice);
        put("Ausgabe", voice->output == speech::VoiceSettings::Output::Desktop ? kDesktop : kEmbedded);
    }
    return written;
}

void Formini::Command6_Click() {
    QByteArray bytes;
    for (int i = 0; i < List1->count(); ++i)
        bytes += codepage::toAnsi(List1->item(i)->text()) + "\r\n";
    platform::writeWholeFile(path_, bytes);
    // The default lines hold no voice: the standard voice speaks at once,
    // and the file keeps its nine lines.
    main_.dropVoice();
    Command9_Click();
    Command5_Click();
}

bool Formini::URLspeichern_Click() {
    if (!services_.profiles)
        return false;
    return WriteIniValue(*services_.profiles, path_, kSection, QStringLiteral("URLAdessenfeld"),
                         main_.Furl->text());
}

void Formini::Command8_Click() {
    main_.show();
    main_.raise();
    main_.activateWindow();
}

} // namespace lesemund
