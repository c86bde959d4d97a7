// Focus announcements, the Tab cycle, the switches and the window keys.
#include "platform/codepage.h"
#include "support/formfixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

struct Row {
    const char *control;
    const char *text;
    quint32 highlight;
    quint32 blur;
};

const quint32 Y = Form1::kYellow, R = Form1::kRed, W = Form1::kWhite, F = Form1::kFace;

// The Tab cycle from the file list to the last speech button.
const Row kCycle[] = {
    {"File1", "Lokale Liste.. Mit Pfeil-Tasten hoch und runter Auswahl suchen. Mit Enter Text vorlesen. Mit F9 Dokument öffnen!", Y, W},
    {"Command17", "Auswahl lesen [Enter]: TXT + DOC + RTF", Y, W},
    {"Command13", "Lokale Liste Aktualisieren", Y, W},
    {"Command11", "Lokaler Ordner öffnen", Y, F},
    {"Command12", "Lokale Auswahl öffnen [F9]", Y, F},
    {"Option1_1", "Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!", Y, F},
    {"Check1", "Aktives Fenster automatisch sprechen. Ist Aktiviert! Umstellung mit Leertaste!", Y, F},
    {"Check2", "Aktiver Button automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!", Y, F},
    {"Text3", "Zwischenspeicher Textfeld. Mit Enter klick vorlesen. Löschen mit Entfernungstaste.", Y, W},
    {"Command15", "Textfeld vorlesen.", Y, W},
    {"Fhilfe", "Hilfe, Tasten Beschreibung.", Y, F},
    {"Furl", "Focus ist auf Web Adressen Textfeld.", Y, W},
    {"Check3", "Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!", Y, F},
    {"Command14", "URL Datei vorlesen", Y, W},
    {"Command1", "URL Adresse öffnen", Y, F},
    {"chat1", "Chat 1. automatisch vorlesen und im Internet-Explorer öffnen.", Y, F},
    {"chat2", "Chat 2. automatisch vorlesen und im Internet-Explorer öffnen.", Y, F},
    {"Command24", "Programm, auf Standart Einstellung zurücksetzen!", Y, F},
    {"singen", "Mein Programm kann auch singen. Ein kleines Beispiel!", Y, F},
    {"Command21", "Adresse vorlesen.", Y, F},
    {"Fexit", "Exit, Programm Fenster schließen!", R, F},
    {"FPause", "Pause beim sprechen [F2].", Y, W},
    {"Fweiter", "Weiter sprechen [F3].", Y, W},
    {"Fstop", "Stop beim sprechen [F4].", Y, W},
    {"Fnochmal", "Nochmal sprechen [F5].", Y, W},
};

QWidget *focused() { return QApplication::focusWidget(); }

void pressTab() {
    QTest::keyClick(focused(), Qt::Key_Tab);
    QApplication::processEvents();
}

} // namespace

TEST(FocusAnnouncements, TabWalksTheWholeCycleThroughTheTrap) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.File1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(focused(), w.File1);

    for (int lap = 0; lap < 2; ++lap) {
        for (size_t i = 0; i < std::size(kCycle); ++i) {
            const Row &row = kCycle[i];
            QWidget *control = focused();
            ASSERT_TRUE(control);
            ASSERT_EQ(control->objectName(), row.control) << "step " << i;
            EXPECT_EQ(w.Label1->caption(), QString::fromUtf8(row.text)) << row.control;
            EXPECT_EQ(Form1::backColor(control), row.highlight) << row.control;
            // The announcement went to the page through the text file.
            EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#" +
                                        lesemund::codepage::toAnsi(QString::fromUtf8(row.text)));
            pressTab();
            if (i + 1 < std::size(kCycle)) {
                EXPECT_EQ(Form1::backColor(control), row.blur) << row.control << " after blur";
            }
        }
        // After Fnochmal the trap hands the focus on to the file list.
        EXPECT_EQ(focused(), w.File1);
        EXPECT_EQ(w.Label1->caption(), QString::fromUtf8(kCycle[0].text));
    }
}

TEST(FocusAnnouncements, DisabledSaveButtonIsSkippedUntilEnabled) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Command25->setEnabled(true);
    w.Command24->setFocus(Qt::OtherFocusReason);
    pressTab();
    EXPECT_EQ(focused(), w.Command25);
    EXPECT_EQ(w.Label1->caption(), "URL Adresse speichern!");
}

TEST(FocusAnnouncements, WithCheck2OffNothingIsSpokenButLabelAndColoursChange) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Check2->setValue(0);
    const auto n = f.page->clicks.size();
    w.Command17->setFocus(Qt::OtherFocusReason);
    pressTab();
    EXPECT_EQ(f.page->clicks.size(), n);
    EXPECT_EQ(w.Label1->caption(), "Lokale Liste Aktualisieren");
    EXPECT_EQ(Form1::backColor(w.Command13), Form1::kYellow);
}

TEST(FocusAnnouncements, OptionPairSpeaksBySelection) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Option1[0]->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(w.Label1->caption(), "Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!");
    EXPECT_EQ(Form1::backColor(w.Option1[1]), Form1::kYellow);
    w.Option1[0]->setChecked(true);
    w.Command12->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(Form1::backColor(w.Option1[1]), Form1::kFace);
    w.Option1[1]->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(w.Label1->caption(), "Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!");
    EXPECT_EQ(Form1::backColor(w.Option1[0]), Form1::kYellow);
}

TEST(FocusAnnouncements, Check4AnnouncesWhenFocusedFromCode) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Check4->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(w.Label1->caption(),
              QString::fromUtf8("Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"));
    // The focus text of Command18 keeps its trailing blank.
    w.Command18->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(w.Label1->caption(), "URL Adresse, lesen TXT + DOC + RTF ");
    // Text1 comes after the trap and has no handlers: the label stays.
    w.Text1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(w.Label1->caption(), "URL Adresse, lesen TXT + DOC + RTF ");
}

TEST(Switches, Check2AnnouncesOnceEachWay) {
    FormFixture f;
    Form1 &w = *f.form;
    auto n = f.page->clicks.size();
    w.Check2->setValue(0);
    EXPECT_EQ(f.page->clicks.size() - n, 1);
    EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#Aktiver Button automatisch lesen. Ist inaktiv.");
    n = f.page->clicks.size();
    w.Check2->setValue(1);
    EXPECT_EQ(f.page->clicks.size() - n, 1);
    EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#Aktiver Button automatisch lesen. Ist aktiviert.");
}

TEST(Switches, Check1AndCheck4AnnounceTwiceWhileCheck2IsOn) {
    FormFixture f;
    Form1 &w = *f.form;
    auto n = f.page->clicks.size();
    w.Check4->setValue(1);
    EXPECT_EQ(f.page->clicks.size() - n, 2);
    n = f.page->clicks.size();
    w.Check2->blockSignals(true);
    w.Check2->setValue(0);
    w.Check2->blockSignals(false);
    w.Check3->setValue(1); // no explicit speech call, and Check2 is off
    EXPECT_EQ(f.page->clicks.size() - n, 1) << "only Check4's own explicit call when it is switched off";
}

TEST(Switches, NestedExclusionOfTheWatchers) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Check4->setValue(1);
    ASSERT_TRUE(f.timer(3).isActive());
    w.Check3->setValue(1);
    EXPECT_FALSE(f.timer(3).isActive());
    EXPECT_TRUE(f.timer(2).isActive());
    EXPECT_EQ(w.Check4->value(), 0);
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv."));

    w.Check4->setValue(1);
    EXPECT_FALSE(f.timer(2).isActive());
    EXPECT_TRUE(f.timer(3).isActive());
    EXPECT_EQ(w.Check3->value(), 0);
    // The explicit call at the end speaks the label as it then stands.
    EXPECT_EQ(f.textFile(), lesemund::codepage::toAnsi(QString::fromUtf8(
                                "#voice=name:qvx.de.tonra#Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv.")));
}

TEST(Switches, Check1StartsAndStopsTheTaskTimer) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Check1->setValue(0);
    EXPECT_FALSE(f.timer(1).isActive());
    EXPECT_EQ(w.Label1->caption(), "Aktives Fenster nicht mehr sprechen.");
    w.Check1->setValue(1);
    EXPECT_TRUE(f.timer(1).isActive());
    EXPECT_EQ(w.Label1->caption(), "Aktives Fenster automatisch sprechen.");
    EXPECT_EQ(w.Text4->text(), "neue optionen");
}

TEST(WindowKeys, FunctionKeysActOnceFromEveryControl) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    const std::pair<Qt::Key, const char *> keys[] = {
        {Qt::Key_F2, "pause"}, {Qt::Key_F3, "Weiter"}, {Qt::Key_F4, "Stop"}, {Qt::Key_F5, "Nochmal"}};
    for (QWidget *control : {static_cast<QWidget *>(w.Text3), static_cast<QWidget *>(w.File1),
                             static_cast<QWidget *>(w.Furl), static_cast<QWidget *>(w.Command14)}) {
        control->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        for (const auto &[key, button] : keys) {
            const auto n = f.page->clicks.size();
            QTest::keyClick(control, key, Qt::ShiftModifier);
            EXPECT_EQ(f.page->clicks.mid(n), QStringList{button}) << control->objectName().toStdString();
        }
    }
}

TEST(WindowKeys, EnterAndKeypadEnterPressTheFocusedButtonOnce) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    const std::pair<Qt::Key, Qt::KeyboardModifiers> enters[] = {{Qt::Key_Return, Qt::NoModifier},
                                                                {Qt::Key_Enter, Qt::KeypadModifier}};
    // "&Exit" comes last: it closes the window.
    for (QPushButton *button : {w.Command15, w.Fhilfe, w.Command14, w.Fstop, w.Fexit}) {
        for (const auto &[key, modifiers] : enters) {
            if (!w.isVisible())
                break;
            int pressed = 0;
            const auto counting = QObject::connect(button, &QPushButton::clicked, [&] { ++pressed; });
            button->setFocus(Qt::OtherFocusReason);
            QApplication::processEvents();
            QTest::keyClick(button, key, modifiers);
            QObject::disconnect(counting);
            EXPECT_EQ(pressed, 1) << button->objectName().toStdString() << " key " << key;
        }
    }
    EXPECT_EQ(f.processEnds, 1);
}

TEST(Layout, FrameBordersRunAlongTheirTopAndCaptionsShowWhole) {
    FormFixture f;
    Form1 &w = *f.form;
    for (QGroupBox *frame : {w.Frame3, w.Frame4, w.Frame5, w.Frame6}) {
        const QImage image = frame->grab().toImage();
        EXPECT_EQ(image.pixelColor(image.width() - 4, 0), QColor(0x40, 0x40, 0x40))
            << frame->objectName().toStdString();
    }
    for (QAbstractButton *box : std::initializer_list<QAbstractButton *>{
             w.Check1, w.Check2, w.Check3, w.Check4, w.Option1[0], w.Option1[1]})
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
}

TEST(WindowKeys, F1InTheScratchFieldHelpsThenAnnounces) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Text3->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    const auto n = f.page->clicks.size();
    QTest::keyClick(w.Text3, Qt::Key_F1);
    EXPECT_EQ(f.page->clicks.mid(n), (QStringList{"Sprech", "user1"}));
    EXPECT_TRUE(w.Text3->text().startsWith("Tastvolk Lesemund, Hilfe."));
    EXPECT_TRUE(w.Label1->caption().startsWith("Zwischenspeicher Textfeld: Es kann ein Text"));
}

TEST(ScratchField, EnterSpeaksAndKeepsTheLineBreakDeleteEmptiesTheField) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Text3->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClicks(w.Text3, "Hallo Welt");
    QTest::keyClick(w.Text3, Qt::Key_Return);
    EXPECT_EQ(f.textFile(), QByteArray("Hallo Welt"));
    EXPECT_EQ(f.page->clicks.last(), "user2");
    EXPECT_EQ(w.Text3->text(), "Hallo Welt\r\n");
    QTest::keyClick(w.Text3, Qt::Key_Home);
    QTest::keyClick(w.Text3, Qt::Key_Delete);
    EXPECT_EQ(w.Text3->text(), "");
}

// A line too long to lay out at once is shown in pieces; the text still
// reads back character for character, as set and as edited at the seams.
TEST(ScratchField, ALongLineReadsBackAsSetAndAsEditedAtTheSeams) {
    FormFixture f;
    f.showActive();
    ScratchField &field = *f.form->Text3;
    QString digits;
    for (int i = 0; digits.size() < 2 * ScratchField::kParagraphLength + 100; ++i)
        digits += QChar(u'0' + i % 10);
    const QString words = QString("Wort und Satz ").repeated(700);
    const QString text = digits + "\r" + words + "\r\nEnde";
    field.setText(text);
    f.form->Command15->click();
    EXPECT_EQ(f.textFile(), text.toLatin1());
    ASSERT_GT(field.document()->blockCount(), 3) << "the long lines are not cut";

    field.setFocus(Qt::OtherFocusReason);
    QTextCursor cursor = field.textCursor();
    cursor.movePosition(QTextCursor::End);
    field.setTextCursor(cursor);
    QTest::keyClicks(&field, "!");
    QString expected = digits + "\r\n" + words + "\r\nEnde!";
    EXPECT_EQ(field.text(), expected);

    // Backspace at the start of the second piece takes the digit before it.
    const int seam = field.document()->findBlockByNumber(1).position();
    cursor.setPosition(seam);
    field.setTextCursor(cursor);
    QTest::keyClick(&field, Qt::Key_Backspace);
    expected.remove(seam - 2, 1);
    EXPECT_EQ(field.text(), expected);
    // Enter within a piece breaks the line there and nowhere else.
    const int within = field.document()->findBlockByNumber(1).position() + 10;
    cursor.setPosition(within);
    field.setTextCursor(cursor);
    QTest::keyClick(&field, Qt::Key_Return);
    expected.insert(within - 1, "\r\n");
    EXPECT_EQ(field.text(), expected);
    // The seam is one place for the arrow keys: from the end of the first
    // piece one Right and one Backspace take the first digit of the next,
    // from the start of the next one Left goes before the last of the first.
    const int end = field.document()->findBlockByNumber(0).length() - 1;
    cursor.setPosition(end);
    field.setTextCursor(cursor);
    QTest::keyClick(&field, Qt::Key_Right);
    QTest::keyClick(&field, Qt::Key_Backspace);
    expected.remove(end, 1);
    EXPECT_EQ(field.text(), expected);
    const int start = field.document()->findBlockByNumber(1).position();
    cursor.setPosition(start);
    field.setTextCursor(cursor);
    QTest::keyClick(&field, Qt::Key_Left);
    QTest::keyClicks(&field, "x");
    expected.insert(start - 2, "x");
    EXPECT_EQ(field.text(), expected);
    // A copy holds the line as it reads, too.
    field.selectAll();
    field.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString(expected).replace("\r\n", "\n"));
}

TEST(FocusAnnouncements, ArrowKeysInTheOptionPairAnnounceTheNewMode) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Option1[1]->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.Option1[1], Qt::Key_Down);
    EXPECT_TRUE(w.Option1[0]->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), w.Option1[0]);
    EXPECT_EQ(w.Label1->caption(), "Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!");
    EXPECT_EQ(f.textFile(), "#voice=name:qvx.de.tonra#Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!");
    QTest::keyClick(w.Option1[0], Qt::Key_Up);
    EXPECT_TRUE(w.Option1[1]->isChecked());
    EXPECT_EQ(w.Label1->caption(), "Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!");
    EXPECT_EQ(Form1::backColor(w.Option1[1]), Form1::kYellow);
}
