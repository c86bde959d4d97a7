// Start-up with the options file, the options window's commands and the
// save question on closing.
#include "settings/form2.h"
#include "settings/formini.h"
#include "support/formfixture.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

QByteArray defaultFile() {
    QByteArray out;
    for (const QString &line : Formini::defaultLines())
        out += line.toLatin1() + "\r\n";
    return out;
}

QByteArray optionsWith(const QByteArray &lines) { return "[optionen]\r\n" + lines; }

} // namespace

TEST(StartUp, NavigatesToThePageLoadsOptionsAndStartsTheTimers) {
    FormFixture f;
    Form1 &w = *f.form;
    EXPECT_EQ(f.page->navigatedTo, f.data.path("sp"));
    EXPECT_EQ(w.windowTitle(), "Tastvolk Lesemund");
    EXPECT_EQ(w.Furl->text(), "http://www.tastvolk.example/chat/chat1.ok");
    EXPECT_TRUE(w.Option1[1]->isChecked());
    EXPECT_EQ(w.Check1->value(), 1);
    EXPECT_EQ(w.Check2->value(), 1);
    EXPECT_TRUE(f.timer(1).isActive());
    EXPECT_EQ(f.timer(1).interval(), 1500);
    EXPECT_TRUE(f.timer(4).isActive());
    EXPECT_EQ(f.timer(4).interval(), 4000);
    EXPECT_FALSE(f.timer(2).isActive());
    EXPECT_FALSE(f.timer(3).isActive());
    EXPECT_FALSE(f.timer(5).isActive());
    // The load selected index 0, then index 1 again: the marker says so
    // until Timer4 puts it back.
    EXPECT_EQ(w.Text4->text(), "neue optionen");
    f.timer(4).fire();
    EXPECT_EQ(w.Text4->text(), "optionen");
    EXPECT_FALSE(f.timer(4).isActive());
}

TEST(StartUp, SwitchesSetByTheOptionsFileSayNothingBeforeTheWindowShows) {
    FormFixture f(true, [](platform::Services &s) {
        QFile ini(s.appFolder + "/lesemund/optionen.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(optionsWith("AktivesFenster=0\r\nBeiText=1\r\nLesenOhne=Wahr\r\n"));
    });
    EXPECT_EQ(f.form->Check1->value(), 0);
    EXPECT_EQ(f.form->Check4->value(), 1);
    EXPECT_EQ(f.page->clicks, QStringList()) << "the page is not ready before the load ends";
    f.showActive();
    f.form->File1->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(f.page->clicks, QStringList{"user1"});
}

TEST(StartUp, ReadingModeComesFromLesenOhneAlone) {
    {
        FormFixture f(true, {});
        f.data.write("optionen.ini", optionsWith("LesenOhne=Falsch\r\nLesenOhne1=Wahr\r\n"));
        f.form->formini().Command9->click();
        EXPECT_TRUE(f.form->Option1[0]->isChecked());
    }
    {
        FormFixture f;
        f.data.write("optionen.ini", optionsWith("LesenOhne1=Wahr\r\nLesenOhne=wahr\r\n"));
        f.form->formini().Command9->click();
        EXPECT_TRUE(f.form->Option1[1]->isChecked());
        f.data.write("optionen.ini", optionsWith("LesenOhne1=Falsch\r\nLesenOhne=Quatsch\r\n"));
        f.form->formini().Command9->click();
        EXPECT_TRUE(f.form->Option1[0]->isChecked()); // step 2 selected index 0; nothing else
    }
}

TEST(StartUp, SwitchValuesAreReadLeniently) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("optionen.ini", optionsWith("AktivesFenster=abc\r\nAktiverButton=7\r\nBeiTextURL= 1 \r\n"));
    w.formini().Command9->click();
    EXPECT_EQ(w.Check1->value(), 1);
    EXPECT_EQ(w.Check2->value(), 1);
    EXPECT_EQ(w.Check3->value(), 1);
    EXPECT_TRUE(f.timer(2).isActive());
    EXPECT_EQ(w.Furl->text(), ""); // a missing key empties the address
    EXPECT_EQ(w.lesemund1->text(), "");
}

TEST(StartUp, OptionsAppliedThroughTheSwitchHandlers) {
    FormFixture f(true, [](platform::Services &s) {
        // The options file is written before the window exists.
        QFile out(s.dataFolder() + "/optionen.ini");
        out.open(QIODevice::WriteOnly);
        out.write(optionsWith("AktivesFenster=0\r\nBeiTextURL=1\r\nBeiText=1\r\nstimme=\"#voice=q#\"\r\n"));
    });
    Form1 &w = *f.form;
    EXPECT_EQ(w.Check1->value(), 0);
    EXPECT_FALSE(f.timer(1).isActive()); // stopped before it fired
    // Both watcher switches set: the later one wins, the earlier is off.
    EXPECT_EQ(w.Check3->value(), 0);
    EXPECT_EQ(w.Check4->value(), 1);
    EXPECT_TRUE(f.timer(3).isActive());
    EXPECT_FALSE(f.timer(2).isActive());
    EXPECT_EQ(w.lesemund1->text(), "#voice=q#");
}

TEST(StartUp, CopiesLeftByAnInterruptedSaveAreRemoved) {
    const QStringList kept = {"optionen.ini.Sicher", "optionen.ini.backup", "optionen.ini.zaNOaJx"};
    FormFixture f(true, [&](platform::Services &s) {
        for (const QString &name : kept + QStringList{"optionen.ini.pJGXCw", "chat.ini.AwjBOe"}) {
            QFile out(s.dataFolder() + "/" + name);
            out.open(QIODevice::WriteOnly);
            out.write("[optionen]\r\n");
        }
    });
    QStringList left = QDir(f.data.dataFolder()).entryList({"*.ini.*"}, QDir::Files, QDir::Unsorted);
    left.sort();
    EXPECT_EQ(left, kept);
}

TEST(OptionsWindow, SaveAndLoadRoundTrip) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Check2->setValue(0);
    w.Option1[0]->setChecked(true);
    const QString longAddress = "http://www.tastvolk.example/" + QString(200 - 28, QChar('a'));
    w.Furl->setText(longAddress);
    w.formini().Command5->click();
    EXPECT_EQ(f.data.read("optionen.ini"),
              QByteArray("[optionen]\r\nAktivesFenster=1\r\nAktiverButton=0\r\nBeiTextURL=0\r\nBeiText=0\r\n"
                         "LesenOhne1=Wahr\r\nLesenOhne=Falsch\r\nURLAdessenfeld=") +
                  longAddress.toLatin1() + "\r\nstimme=#voice=name:qvx.de.tonra#\r\n");

    w.Check2->setValue(1);
    w.Option1[1]->setChecked(true);
    w.Furl->setText("x");
    w.formini().Command9->click();
    EXPECT_EQ(w.Check2->value(), 0);
    EXPECT_TRUE(w.Option1[0]->isChecked());
    EXPECT_EQ(w.Furl->text(), longAddress.left(149));
}

TEST(OptionsWindow, ResetWritesTheNineDefaultLinesAndAppliesThem) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("optionen.ini", "Müll\r\n");
    w.Check1->setValue(0);
    w.Check3->setValue(1);
    w.Command24->click();
    EXPECT_EQ(f.data.read("optionen.ini"), defaultFile());
    EXPECT_EQ(w.Check1->value(), 1);
    EXPECT_EQ(w.Check3->value(), 0);
    EXPECT_EQ(w.Furl->text(), "http://www.tastvolk.example/chat/chat1.ok");
}

TEST(OptionsWindow, SaveWithoutStimmeLeavesItOut) {
    FormFixture f;
    f.data.write("optionen.ini", optionsWith("AktivesFenster=1\r\n"));
    f.form->formini().Command5->click();
    EXPECT_FALSE(f.data.read("optionen.ini").contains("stimme"));
}

TEST(ChatSettings, HolderReadsTheFileAtEveryPress) {
    FormFixture f;
    Form2 &chat = f.form->form2();
    EXPECT_EQ(chat.Label1->text(), "http://www.tastvolk.example/chat/chat1.ok");
    EXPECT_EQ(chat.Label4->text(), "http://www.tastvolk.example/chat/chat2.php");
    f.data.write("chat.ini", "[OPTIONEN]\r\nCHAT1=http://a.example/t.txt\r\nChat1+=http://a.example/\r\n");
    chat.Command9->click();
    EXPECT_EQ(chat.Label1->text(), "http://a.example/t.txt");
    EXPECT_EQ(chat.Label3->text(), "http://a.example/");
    EXPECT_EQ(chat.Label2->text(), "");
    EXPECT_EQ(chat.Label4->text(), "");
}

TEST(Shutdown, NoChangesNoQuestion) {
    FormFixture f;
    f.timer(4).fire();
    f.form->Fexit->click();
    EXPECT_EQ(f.questionsAsked, 0);
    EXPECT_EQ(f.processEnds, 1);
}

TEST(Shutdown, ChangedOptionsAskAndYesSaves) {
    FormFixture f;
    f.timer(4).fire();
    f.form->Check3->setValue(1);
    f.answerYes = true;
    f.form->showSaveFailure = [] { ADD_FAILURE() << "the save worked"; };
    f.form->close();
    EXPECT_EQ(f.questionsAsked, 1);
    EXPECT_EQ(f.processEnds, 1);
    EXPECT_EQ(f.windowFile(), QByteArray("#voice=name:qvx.de.tonra#Soll die Programm \xC4nderungen gespeichert "
                                         "werden? Buchstabe J. f\xFCr Ja . N. f\xFCr Nein!"));
    EXPECT_EQ(f.page->clicks.last(), "fenster1");
    EXPECT_TRUE(f.data.read("optionen.ini").contains("BeiTextURL=1\r\n"));
}

TEST(Shutdown, ASaveThatCannotWriteIsSpokenWhileABoxHoldsTheEnd) {
    FormFixture f;
    f.timer(4).fire();
    // A folder in the file's place: not even root can write the file.
    QFile::remove(f.data.path("optionen.ini"));
    ASSERT_TRUE(QDir().mkpath(f.data.path("optionen.ini")));
    f.form->Check3->setValue(1);
    f.answerYes = true;
    QByteArray spoken;
    QString click;
    int shown = 0, endsBefore = -1;
    f.form->showSaveFailure = [&] {
        ++shown;
        spoken = f.windowFile();
        click = f.page->clicks.last();
        endsBefore = f.processEnds;
    };
    f.form->close();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(spoken, QByteArray("#voice=name:qvx.de.tonra#Die Einstellungen konnten nicht gespeichert werden!"));
    EXPECT_EQ(click, "fenster1");
    EXPECT_EQ(endsBefore, 0);
    EXPECT_EQ(f.processEnds, 1);
}

TEST(Shutdown, NoDoesNotSaveAndTheMarkerIsComparedExactly) {
    FormFixture f;
    f.timer(4).fire();
    f.form->Text4->setText("Optionen");
    const QByteArray before = f.data.read("optionen.ini");
    f.form->Check3->blockSignals(true);
    f.form->Check3->setValue(1);
    f.form->Check3->blockSignals(false);
    f.answerYes = false;
    f.form->Exitx_Click();
    EXPECT_EQ(f.questionsAsked, 1);
    EXPECT_EQ(f.processEnds, 1);
    EXPECT_EQ(f.data.read("optionen.ini"), before);
}

TEST(Shutdown, WithinFourSecondsTheStartUpChangesCount) {
    FormFixture f;
    f.form->close();
    EXPECT_EQ(f.questionsAsked, 1);
}

TEST(Shutdown, MissingDataFolderStillAsksAndEnds) {
    FormFixture f(false, [](platform::Services &s) { s.appFolder += "/fehlt"; });
    f.form->close();
    EXPECT_EQ(f.questionsAsked, 1);
    EXPECT_EQ(f.processEnds, 1);
}
