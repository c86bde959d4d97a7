// The window at the keyboard: focus announcements along the Tab cycle, the
// switches, the window keys, the scratch field and the save question's box.
#include "app/questionbox.h"
#include "docreaders/codepage.h"
#include "support/formfixture.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

const QByteArray kDirective = "#voice=name:qvx.de.tonra#";
const quint32 W = Form1::kWhite, F = Form1::kFace;

struct Keyboard : ::testing::Test {
    void SetUp() override { f.showActive(); }
    void focus(QWidget *control) { control->setFocus(Qt::OtherFocusReason); QApplication::processEvents(); }
    FormFixture f;
    Form1 &w = *f.form;
};

// Soon, `look`s at the message box that is open then and presses `key` in it.
void answerNextBox(Qt::Key key, std::function<void(QMessageBox *)> look) {
    QTimer::singleShot(50, [=] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            look(box);
            QTest::keyClick(box, key);
        }
    });
}

} // namespace

TEST_F(Keyboard, TabWalksTheCycleAndEachControlSaysWhatItIsWhileHighlighted) {
    // The cycle from the file list on, with the colour each control takes back when it loses the focus.
    const std::pair<const char *, quint32> cycle[] = {
        {"File1", W}, {"Command17", W}, {"Command13", W}, {"Command11", F}, {"Command12", F}, {"Option1_1", F},
        {"Check1", F}, {"Check2", F}, {"Text3", W}, {"Command15", W}, {"Fhilfe", F}, {"Furl", W}, {"Check3", F},
        {"Command14", W}, {"Command1", F}, {"chat1", F}, {"chat2", F}, {"Command24", F}, {"singen", F},
        {"Command21", F}, {"Fexit", F}, {"FPause", W}, {"Fweiter", W}, {"Fstop", W}, {"Fnochmal", W}};
    QStringList described; // what the desktop's reader knows before the control is reached
    for (const auto &[name, blur] : cycle) {
        QWidget *control = w.findChild<QWidget *>(name);
        described << control->accessibleDescription();
        EXPECT_EQ(Form1::backColor(control), control->hasFocus() ? Form1::kYellow : blur) << name << " at the start";
    }
    focus(w.File1);
    for (int i = 0; i < int(std::size(cycle)); ++i) {
        QWidget *control = QApplication::focusWidget();
        ASSERT_EQ(control->objectName(), cycle[i].first);
        EXPECT_EQ(f.textFile(), kDirective + codepage::toAnsi(described[i])) << cycle[i].first;
        EXPECT_EQ(Form1::backColor(control), control == w.Fexit ? Form1::kRed : Form1::kYellow) << cycle[i].first;
        QTest::keyClick(control, Qt::Key_Tab);
        EXPECT_EQ(Form1::backColor(control), cycle[i].second) << cycle[i].first;
    }
    EXPECT_EQ(QApplication::focusWidget(), w.File1) << "the trap after the last one hands on to the list";
    const quint32 colour = Form1::backColor(w.Command18); // reached from code only: no highlight
    focus(w.Command18);
    EXPECT_EQ(w.Label1->caption(), "URL Adresse, lesen TXT + DOC + RTF ");
    EXPECT_EQ(Form1::backColor(w.Command18), colour);
}

TEST_F(Keyboard, SwitchesSayTheirStateAndTheWatchersExcludeEachOther) {
    qsizetype n = f.page->clicks.size();
    auto said = [&] { return f.page->clicks.size() - std::exchange(n, f.page->clicks.size()); };
    w.Check1->setValue(0);
    EXPECT_FALSE(f.timer(1).isActive());
    w.Check1->setValue(1);
    w.Check4->setValue(1);
    EXPECT_EQ(said(), 6) << "twice for each change while Check2 is on";
    w.Check3->setValue(1);
    EXPECT_TRUE(f.timer(1).isActive() && f.timer(2).isActive() && !f.timer(3).isActive() && !w.Check4->value());
    w.Check4->setValue(1);
    EXPECT_TRUE(!f.timer(2).isActive() && f.timer(3).isActive() && !w.Check3->value());
    said(); // counting afresh
    w.Check2->setValue(0);
    EXPECT_EQ(f.textFile(), kDirective + "Aktiver Button automatisch lesen. Ist inaktiv.");
    w.Check4->setValue(0);
    focus(w.Command13);
    EXPECT_EQ(said(), 2) << "Check2 once, then Check4's own call only, and no focus";
}

// The window sees each key before the control that has the focus, and acts
// on it once; Enter and the keypad's Enter press the focused button once,
// and in the scratch field speak it; Delete empties the field.
TEST_F(Keyboard, KeysActOnceWhateverHasTheFocus) {
    const std::tuple<QWidget *, Qt::Key, Qt::KeyboardModifiers, QStringList> presses[] = {
        {w.Text3, Qt::Key_F1, {}, {"Sprech", "user1"}}, {w.Text3, Qt::Key_Return, {}, {"user2"}},
        {w.Text3, Qt::Key_Delete, {}, {}}, {w.File1, Qt::Key_F2, Qt::ShiftModifier, {"pause"}},
        {w.Furl, Qt::Key_F3, {}, {"Weiter"}}, {w.Command14, Qt::Key_F4, {}, {"Stop"}}, {w.Text3, Qt::Key_F5, {}, {"Nochmal"}},
        {w.Command15, Qt::Key_Enter, Qt::KeypadModifier, {"user2"}}, {w.Fstop, Qt::Key_Return, {}, {"Stop"}}};
    for (const auto &[control, key, modifiers, clicks] : presses) {
        focus(control);
        const auto n = f.page->clicks.size();
        QTest::keyClick(control, key, modifiers);
        EXPECT_EQ(f.page->clicks.mid(n), clicks) << control->objectName().toStdString() << " key " << key;
    }
    EXPECT_EQ(w.Text3->text(), "");
    focus(w.Fexit);
    QTest::keyClick(w.Fexit, Qt::Key_Return);
    EXPECT_EQ(f.processEnds, 1);
}

TEST_F(Keyboard, JSavesNDoesNotAndAFailedSaveIsSpokenWhileAWarningHoldsTheEnd) {
    QStringList seen;
    answerNextBox(Qt::Key_N, [&](QMessageBox *box) { seen << box->windowTitle(); });
    EXPECT_FALSE(QuestionBox::ask(nullptr));
    f.form->askSaveQuestion = [&] { return QuestionBox::ask(f.form.get()); };
    w.Check3->setValue(1);
    QFile::remove(f.data.path("optionen.ini")); // a folder in its place: not even root can write it
    ASSERT_TRUE(QDir().mkpath(f.data.path("optionen.ini")));
    answerNextBox(Qt::Key_J, [&](QMessageBox *) {
        answerNextBox(Qt::Key_Return, [&](QMessageBox *box) {
            seen << box->text() << QString::fromLatin1(f.windowFile()) << f.page->clicks.last()
                 << QString::number(f.processEnds);
        });
    });
    w.close();
    const QString failed = "Die Einstellungen konnten nicht gespeichert werden!";
    EXPECT_EQ(seen, (QStringList{"Warnung", failed, kDirective + failed, "fenster1", "0"})) << "said and shown first";
    EXPECT_EQ(f.processEnds, 1);
}

TEST_F(Keyboard, FrameBordersRunAlongTheirTopAndCaptionsShowWhole) {
    for (QGroupBox *frame : {w.Frame3, w.Frame4, w.Frame5, w.Frame6})
        EXPECT_EQ(frame->grab().toImage().pixelColor(frame->width() - 4, 0), QColor(0x404040)) << frame->objectName().toStdString();
    for (QAbstractButton *box : std::initializer_list<QAbstractButton *>{w.Check1, w.Check2, w.Check3, w.Check4,
                                                                         w.Option1[0], w.Option1[1]})
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
}
