// Start-up with the options file, saving it, the save question on closing,
// and what the window hands on: the speech files, byte by byte, with the
// button it clicks on the speech page, and addresses for the desktop.
#include "settings/formini.h"
#include "support/formfixture.h"

#include <QDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";
} // namespace

TEST(StartUp, TheOptionsFileIsAppliedSilentlyTheFileListSpeaksFirstASaveKeepsTheFileAsItWas) {
    const QByteArray options = "[optionen]\r\nAktivesFenster=0\r\nAktiverButton=abc\r\nBeiTextURL= 1 \r\n"
                               "LesenOhne1=Wahr\r\nLesenOhne=Falsch\r\nstimme=\"#voice=q#\"\r\n";
    const QStringList kept = {"optionen.ini.Sicher", "optionen.ini.backup", "optionen.ini.zaNOaJx"};
    FormFixture f(true, [&](platform::Services &s) {
        for (const QString &name : kept + QStringList{"optionen.ini", "optionen.ini.pJGXCw", "chat.ini.AwjBOe"}) {
            QFile out(s.dataFolder() + "/" + name);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(options);
        }
    });
    Form1 &w = *f.form;
    // Read leniently: blanks allowed, no number ignored; the reading mode from LesenOhne alone.
    EXPECT_EQ(QList<int>({w.Check1->value(), w.Check2->value(), w.Check3->value()}), QList<int>({0, 1, 1}));
    EXPECT_TRUE(!f.timer(1).isActive() && f.timer(2).isActive()); // Timer1 stops before it fires
    EXPECT_EQ(w.lesemund1->text(), "#voice=q#");
    EXPECT_EQ(w.Furl->text(), "");
    // Copies left by an interrupted save are removed; names only like them stay.
    EXPECT_EQ(QDir(f.data.dataFolder()).entryList({"*.ini.*"}, QDir::Files, QDir::Name), kept);
    EXPECT_EQ(f.page->clicks, QStringList()) << "the page is not ready before the load ends";
    f.showActive();
    w.File1->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(f.page->clicks, QStringList{"user2"});
    const QString address = "http://www.tastvolk.example/" + QString(200 - 28, QChar('a'));
    w.Furl->setText(address);
    w.formini().Command5->click();
    EXPECT_EQ(f.data.read("optionen.ini"), "[optionen]\r\nAktivesFenster=0\r\nAktiverButton=1\r\nBeiTextURL=1\r\n"
                                           "LesenOhne1=Wahr\r\nLesenOhne=Falsch\r\nstimme=\"#voice=q#\"\r\n"
                                           "BeiText=0\r\nURLAdessenfeld=" + address.toLatin1() + "\r\n");
    w.formini().Command9->click(); // read back, as far as it is read
    EXPECT_EQ(w.Furl->text(), address.left(149));
}

TEST(Shutdown, TheSaveQuestionComesAfterChangesOnlyAndYesAloneSaves) {
    // Whether Timer4 has fired (the start-up's own changes count until it does), the answer, whether asked.
    for (const auto &[settled, yes, asked] : {std::tuple{false, true, true}, {false, false, true}, {true, true, false}}) {
        FormFixture f;
        if (settled)
            f.timer(4).fire();
        f.answerYes = yes;
        f.data.write("optionen.ini", "[optionen]\r\n");
        f.form->Fexit->click();
        EXPECT_EQ(f.questionsAsked, int(asked)) << settled << yes;
        EXPECT_EQ(f.processEnds, 1);
        EXPECT_EQ(f.data.read("optionen.ini") != "[optionen]\r\n", asked && yes) << "only Yes saves";
    }
}

TEST(SpeechChannel, EveryWriterProducesItsExactBytesAndButton) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Text1->setText("ABC");
    w.lesemund->click();
    EXPECT_EQ(f.windowFile(), kDirective + "ABC\r\n");
    w.Command6->click(); // same file, no line end, no click
    EXPECT_EQ(f.windowFile(), kDirective + "ABC");
    w.Furl->setText(QString::fromUtf8("http://www.tastvolk.example/Ä"));
    w.Command3->click();
    EXPECT_EQ(f.windowFile(), kDirective + "http://www.tastvolk.example/\xC4");
    w.Command21->click(); // no directive
    EXPECT_EQ(f.textFile(), "http://www.tastvolk.example/\xC4");
    w.Text3->setText(QString::fromUtf8("Zeile eins\r\n\nÄrger\r€")); // line ends as set
    w.Command15->click();
    EXPECT_EQ(f.textFile(), "Zeile eins\r\n\n\xC4rger\r\x80");
    w.Text3->moveCursor(QTextCursor::End);
    w.Text3->insertPlainText("\nzwei"); // and as the field gives them once edited
    w.Command15->click();
    EXPECT_EQ(f.textFile(), "Zeile eins\r\n\r\n\xC4rger\r\n\x80\r\nzwei");
    w.Label1->setCaption("");
    w.Label1->setCaption(""); // said again
    EXPECT_EQ(f.textFile(), kDirective);
    w.Command2->click(); // repeats the window file
    EXPECT_EQ(f.page->clicks, (QStringList{"fenster1", "fenster1", "user2", "user2", "user2", "user1", "user1", "fenster1"}));
}

TEST(SpeechChannel, APipeInPlaceOfASpeechFileIsSkippedAtOnceButStillClicked) {
    for (const bool window : {false, true}) {
        FormFixture f;
        const QString path = f.data.path(window ? "fenster.txt" : "text.txt");
        QFile::remove(path);
        ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // With a reader waiting, a write would go through instead of being skipped.
        const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        window ? f.form->lesemund_Click() : f.form->Command21_Click();
        char byte;
        EXPECT_EQ(::read(reader, &byte, 1), 0) << "nothing written, and the pipe let go";
        ::close(reader);
        EXPECT_EQ(f.page->clicks.last(), window ? "fenster1" : "user2") << "the click still happens";
    }
}

TEST(ShellOpening, AnAddressGoesToTheOpenerAsOneArgumentUnlessItLooksLikeAnOption) {
    FormFixture f;
    const QString hostile = "http://h.example/a;rm -rf ~ $(touch /tmp/x) 'q\" `id`";
    for (const QString &address : {hostile, QString(), QString("--help")})
        f.form->URLGoTo(0, address);
    EXPECT_EQ(f.shell->opened, QStringList{hostile});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.form->Label1->caption(), QString::fromUtf8("Die Adresse ist nicht gültig!"));
}
