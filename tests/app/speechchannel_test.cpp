// The speech files the main window writes, byte by byte, and the buttons
// it clicks on the speech page.
#include "support/formfixture.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";

QStringList after(const QStringList &clicks, qsizetype from) { return clicks.mid(from); }
} // namespace

TEST(SpeechChannel, EveryWriterProducesItsExactBytes) {
    FormFixture f;
    Form1 &w = *f.form;
    ASSERT_EQ(w.lesemund1->text(), QString(kDirective)); // from the shipped options file

    w.Text1->setText("ABC");
    auto n = f.page->clicks.size();
    w.lesemund->click();
    EXPECT_EQ(f.windowFile(), kDirective + "ABC\r\n");
    EXPECT_EQ(after(f.page->clicks, n), QStringList{"fenster1"});

    n = f.page->clicks.size();
    w.Command6->click(); // same file, no line end, no click
    EXPECT_EQ(f.windowFile(), kDirective + "ABC");
    EXPECT_EQ(f.page->clicks.size(), n);

    w.Furl->setText(QString::fromUtf8("http://www.tastvolk.example/Ä"));
    w.Command3->click();
    EXPECT_EQ(f.windowFile(), kDirective + "http://www.tastvolk.example/\xC4");
    w.Command21->click(); // no directive
    EXPECT_EQ(f.textFile(), QByteArray("http://www.tastvolk.example/\xC4"));
    EXPECT_EQ(f.page->clicks.last(), "user2");

    w.Text3->setText(QString::fromUtf8("Zeile eins\nÄrger €"));
    w.Command15->click();
    EXPECT_EQ(f.textFile(), QByteArray("Zeile eins\n\xC4rger \x80"));
    EXPECT_EQ(f.page->clicks.last(), "user2");

    n = f.page->clicks.size();
    w.Command2->click(); // repeats the window file without writing it
    EXPECT_EQ(after(f.page->clicks, n), QStringList{"fenster1"});
    EXPECT_EQ(f.page->windowFileAtClick.last(), kDirective + "http://www.tastvolk.example/\xC4");
}

TEST(SpeechChannel, AnEmptyAnnouncementWritesTheDirectiveAlone) {
    FormFixture f;
    f.form->Label1->setCaption(QString());
    EXPECT_EQ(f.textFile(), kDirective);
    EXPECT_EQ(f.textFile().size(), 25);
}

TEST(SpeechChannel, ReadingModeChoosesTheButton) {
    FormFixture f;
    Form1 &w = *f.form;
    ASSERT_TRUE(w.Option1[1]->isChecked());
    auto n = f.page->clicks.size();
    w.Label1->setCaption("eins");
    EXPECT_EQ(after(f.page->clicks, n), QStringList{"user1"});

    w.Option1[0]->setChecked(true);
    EXPECT_EQ(w.Text4->text(), "neue optionen");
    n = f.page->clicks.size();
    w.Label1->setCaption("zwei");
    EXPECT_EQ(after(f.page->clicks, n), QStringList{"user2"});
    EXPECT_EQ(f.textFile(), kDirective + "zwei");
}

TEST(SpeechChannel, TheSameAnnouncementAgainIsSpokenAgain) {
    FormFixture f;
    auto n = f.page->clicks.size();
    f.form->Label1->setCaption("Hallo");
    f.form->Label1->setCaption("Hallo");
    EXPECT_EQ(f.page->clicks.size() - n, 2);
}

TEST(SpeechChannel, WithoutAnOptionsFileTheDirectiveIsEmpty) {
    FormFixture f(false);
    EXPECT_EQ(f.form->lesemund1->text(), QString());
    f.form->Text1->setText("x");
    f.form->lesemund->click();
    EXPECT_EQ(f.windowFile(), QByteArray("x\r\n"));
}

TEST(SpeechChannel, ScratchFieldKeepsLineEndsAsSetAndGivesCrLfAfterEditing) {
    FormFixture f;
    f.form->Text3->setText("a\r\n\nb\rc");
    f.form->Command15->click();
    EXPECT_EQ(f.textFile(), QByteArray("a\r\n\nb\rc"));
    f.form->Text3->setText(QString());
    f.form->Text3->insertPlainText("eins\nzwei");
    f.form->Command15->click();
    EXPECT_EQ(f.textFile(), QByteArray("eins\r\nzwei"));
}

TEST(SpeechChannel, LocalTextLoaderReadsRegularFilesOnly) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("brief.txt", "Gr\xFC\xDF" "e\r\n");
    w.Furl->setText(f.data.path("brief.txt"));
    w.Command7->click();
    EXPECT_EQ(w.Text3->text(), QString::fromUtf8("Grüße\r\n"));
    EXPECT_EQ(f.windowFile(), kDirective + "Gr\xFC\xDF" "e\r\n\r\n");
    EXPECT_EQ(f.page->clicks.last(), "Hilfe");

    // A text longer than the scratch field takes is cut, and the cut is said.
    f.data.write("lang.txt", QByteArray(5'000'010, 'a'));
    w.Furl->setText(f.data.path("lang.txt"));
    w.Command7->click();
    EXPECT_TRUE(w.Text3->text().startsWith(QString(5'000'000, QChar('a')) + "\r\n["));
    EXPECT_TRUE(w.Text3->text().endsWith("abgeschnitten.]"));

    const QString fifo = f.data.path("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &path : {fifo, f.data.dataFolder(), QString("/dev/zero"), QString("/gibt/es/nicht")}) {
        w.Text3->setText("alt");
        w.Furl->setText(path);
        w.Command7->click(); // must return at once
        EXPECT_EQ(w.Text3->text(), QString()) << path.toStdString();
        EXPECT_EQ(f.windowFile(), kDirective + "\r\n");
    }
}

TEST(SpeechChannel, ASpeechFileThatIsNoRegularFileIsSkippedAtOnceButStillClicked) {
    struct Row {
        const char *file;
        bool pipe; // else a folder
        void (Form1::*handler)();
        const char *button;
    };
    for (const Row row : {Row{"text.txt", false, &Form1::Command21_Click, "user2"},
                          Row{"text.txt", true, &Form1::Command21_Click, "user2"},
                          Row{"fenster.txt", true, &Form1::lesemund_Click, "fenster1"}}) {
        FormFixture f;
        const QString path = f.data.path(row.file);
        QFile::remove(path);
        ASSERT_TRUE(row.pipe ? mkfifo(QFile::encodeName(path).constData(), 0600) == 0
                             : QDir(f.data.dataFolder()).mkdir(row.file));
        // Should the write wait for a reader, the watchdog opens one, so the
        // test fails instead of hanging.
        std::atomic<bool> done{false}, rescued{false};
        int reader = -1;
        std::thread watchdog([&] {
            for (int i = 0; i < 300 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!done && row.pipe) {
                rescued = true;
                reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
            }
        });
        const auto n = f.page->clicks.size();
        (f.form.get()->*row.handler)();
        done = true;
        watchdog.join();
        if (reader >= 0)
            ::close(reader);
        EXPECT_FALSE(rescued) << row.file;
        EXPECT_EQ(after(f.page->clicks, n), QStringList{row.button}) << row.file;
    }
}

TEST(SpeechControls, HelpReplacesTheScratchFieldAndSpeaks) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Text3->setText("getippt");
    w.Fhilfe->click();
    EXPECT_TRUE(w.Text3->text().startsWith("Tastvolk Lesemund, Hilfe."));
    EXPECT_TRUE(w.Text3->text().contains(QString::fromUtf8("nächsten")));
    EXPECT_EQ(f.page->clicks.last(), "Sprech");

    f.data.write("hilfe.txt", QByteArray());
    w.Fhilfe->click();
    EXPECT_EQ(w.Text3->text(), QString());
    EXPECT_EQ(f.page->clicks.last(), "Sprech");

    const auto n = f.page->clicks.size();
    w.FPause->click();
    w.FPause->click();
    w.Fweiter->click();
    w.Fstop->click();
    w.Fnochmal->click();
    EXPECT_EQ(after(f.page->clicks, n), (QStringList{"pause", "pause", "Weiter", "Stop", "Nochmal"}));
}
