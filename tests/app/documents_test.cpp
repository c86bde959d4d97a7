// The file list, the reading of documents through the word processor and
// the local selection watcher, over a word processor double.
#include "support/fakewordprocessor.h"
#include "support/formfixture.h"

#include <QDir>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

const QByteArray kDirective = "#voice=name:qvx.de.tonra#";

// A window whose current folder and application folder are the temporary
// folder, with a scripted word processor.
struct DocFixture {
    std::shared_ptr<FakeWordProcessorFactory> factory = std::make_shared<FakeWordProcessorFactory>();
    FakeWordProcessorState &word = *factory->state;
    QString previousDir = QDir::currentPath();
    std::unique_ptr<FormFixture> f;

    explicit DocFixture(const QStringList &files = {}) {
        f = std::make_unique<FormFixture>(true, [this, files](platform::Services &s) {
            s.word = factory;
            QDir::setCurrent(s.appFolder);
            for (const QString &name : files) {
                QFile out(s.appFolder + "/" + name);
                out.open(QIODevice::WriteOnly);
                out.write("x");
            }
        });
    }
    ~DocFixture() {
        f.reset();
        QDir::setCurrent(previousDir);
    }
    QString path(const QString &name) const { return f->data.appFolder() + "/" + name; }
    Form1 &w() { return *f->form; }
};

QStringList items(QListWidget *list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

TEST(FileList, ListsMatchingPlainFilesSortedByName) {
    DocFixture d({"b.doc", "A.TXT", "c.rtf", "notiz.md", ".versteckt.txt", "Ärger mit -strich.txt"});
    QDir(d.f->data.appFolder()).mkdir("ordner.txt");
    d.w().Command13->click();
    // German order: the umlaut sorts with its vowel, not after z.
    EXPECT_EQ(items(d.w().File1), (QStringList{"A.TXT", QString::fromUtf8("Ärger mit -strich.txt"), "b.doc", "c.rtf"}));
}

TEST(FileList, SelectingSpeaksTheNameThroughTheWindowFile) {
    DocFixture d({"eins.txt", QString::fromUtf8("zwei ä.doc")});
    Form1 &w = d.w();
    ASSERT_EQ(w.Text2->text(), "Auswahl");
    w.File1->setCurrentRow(1);
    EXPECT_EQ(w.Text2->text(), QString::fromUtf8("zwei ä.doc"));
    EXPECT_EQ(d.f->windowFile(), kDirective + "zwei \xE4.doc");
    EXPECT_EQ(d.f->page->clicks.last(), "fenster1");
}

TEST(FileList, KeysReadOpenAndHelp) {
    DocFixture d({"brief.doc"});
    d.word.documents.insert(d.path("brief.doc"), "Absatz eins\rAbsatz zwei\r");
    d.f->showActive();
    Form1 &w = d.w();
    w.File1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.File1, Qt::Key_F9);
    EXPECT_EQ(d.f->shell->opened.last(), "Auswahl"); // nothing selected yet
    QTest::keyClick(w.File1, Qt::Key_Down);
    EXPECT_EQ(w.Text2->text(), "brief.doc");
    QTest::keyClick(w.File1, Qt::Key_Return);
    EXPECT_EQ(w.Text3->text(), "Absatz eins\r\nAbsatz zwei");
    EXPECT_EQ(d.f->textFile(), kDirective + "Absatz eins\r\nAbsatz zwei\r\n");
    EXPECT_EQ(w.vergleichsfeld->text(), w.Text3->text());
    QTest::keyClick(w.File1, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(d.f->shell->opened.last(), d.path("brief.doc"));
    const auto n = d.f->page->clicks.size();
    QTest::keyClick(w.File1, Qt::Key_F1);
    EXPECT_EQ(d.f->page->clicks.mid(n), (QStringList{"Sprech", "user1"}));
    EXPECT_TRUE(w.Label1->caption().startsWith("Lokale Liste.. Mit Pfeil-Tasten"));
}

TEST(Extraction, FollowsTheWordProcessorSteps) {
    DocFixture d;
    Form1 &w = d.w();
    d.word.documents.insert("/x/a.rtf", "A");
    w.Text3->setText("vorher");
    w.ExtractDocumentText("/x/a.rtf");
    EXPECT_EQ(w.Text3->text(), "") << "one character is only the paragraph mark";
    EXPECT_EQ(d.word.calls, (QStringList{"setVisible(false)", "documentsOpen(/x/a.rtf, true)", "editSelectAll()",
                                         "selection()", "setDocumentVar(MyVar, A)", "getDocumentVar(MyVar)",
                                         "documentsClose(0)", "quit()"}));

    w.Text3->setText("bleibt");
    d.word.calls.clear();
    w.ExtractDocumentText("/gibt/es/nicht.doc");
    EXPECT_EQ(w.Text3->text(), "bleibt");
    EXPECT_EQ(d.word.calls.mid(d.word.calls.size() - 2), (QStringList{"documentsClose(0)", "quit()"}));

    d.word.documents.insert("/x/leer.doc", "Text\r\r");
    w.ExtractDocumentText("/x/leer.doc");
    EXPECT_EQ(w.Text3->text(), "Text\r\n");

    d.factory->available = false;
    w.ExtractDocumentText("/x/a.rtf");
    EXPECT_EQ(w.Text3->text(), "Text\r\n");
}

TEST(Extraction, ReadingTwiceSpeaksTwice) {
    DocFixture d({"a.txt"});
    d.word.documents.insert(d.path("a.txt"), "Hallo\r");
    Form1 &w = d.w();
    w.File1->setCurrentRow(0);
    auto n = d.f->page->clicks.size();
    w.Command17->click();
    w.Command17->click();
    EXPECT_EQ(d.f->page->clicks.mid(n), (QStringList{"user1", "user1"}));
}

TEST(SelectionWatcher, ExtractsThenSpeaksOnTheNextTick) {
    // A document longer than a line field holds must compare equal all the same.
    for (const QString &version : {QString("Version "), QString(42'000, 'v')}) {
        DocFixture d({"a.doc"});
        Form1 &w = d.w();
        d.word.documents.insert(d.path("a.doc"), version + "1\r");
        w.File1->setCurrentRow(0);
        w.Check4->setValue(1);
        auto &tick = d.f->timer(3);
        tick.fire(); // equal (both empty): extract
        EXPECT_EQ(w.Text3->text(), version + "1");
        const auto n = d.f->page->clicks.size();
        tick.fire(); // differs: speak with the directive
        EXPECT_EQ(d.f->textFile(), kDirective + (version + "1\r\n").toLatin1());
        EXPECT_EQ(d.f->page->clicks.size(), n + 1);
        tick.fire(); // same text again: extract, nothing said
        EXPECT_EQ(d.f->page->clicks.size(), n + 1) << version.size();
        d.word.documents.insert(d.path("a.doc"), version + "2\r");
        tick.fire();
        tick.fire();
        EXPECT_EQ(d.f->textFile(), kDirective + (version + "2\r\n").toLatin1());
    }
}

TEST(SelectionWatcher, WithoutASelectionItSaysSoEveryTick) {
    DocFixture d;
    Form1 &w = d.w();
    w.Check4->setValue(1);
    const auto n = d.f->page->clicks.size();
    d.f->timer(3).fire();
    d.f->timer(3).fire();
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Keine Lokale Datei ausgewählt!"));
    EXPECT_EQ(d.f->page->clicks.size(), n + 2);
}

TEST(Menu, TogglesAnnounceAndReturn) {
    FormFixture f;
    Form1 &w = *f.form;
    auto n = f.page->clicks.size();
    w.menuAction("AktivesFensterx")->trigger();
    w.menuAction("AktivesFensterx")->trigger();
    EXPECT_EQ(w.Check1->value(), 1);
    EXPECT_EQ(f.page->clicks.size() - n, 4) << "announced twice each time while Check2 is on";
    w.menuAction("URLAdresebeix")->trigger();
    EXPECT_EQ(w.Check3->value(), 1);
    w.menuAction("LokaleListeAuswahlx")->trigger();
    EXPECT_EQ(w.Check4->value(), 1);
    EXPECT_EQ(w.Check3->value(), 0);
}

TEST(Menu, ItemsWithoutActionDoNothing) {
    FormFixture f;
    Form1 &w = *f.form;
    const auto n = f.page->clicks.size();
    const QString label = w.Label1->caption();
    for (const char *name : {"Auswahllesenx", "AuswahlDateioeffenx", "leer2", "URLspeichernx"})
        w.menuAction(name)->trigger();
    EXPECT_EQ(f.page->clicks.size(), n);
    EXPECT_EQ(w.Label1->caption(), label);
}

TEST(Menu, CommandsWithMessages) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Furl->setText("");
    w.menuAction("URLAdreseloeschenx")->trigger();
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("URL Adresse wurde gelöscht!"));

    w.menuAction("URLFocusx")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), w.Furl);

    w.menuAction("LokalerOrdnerx")->trigger();
    EXPECT_EQ(f.shell->opened.last(), f.data.appFolder());
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Lokaler Ordner ist jetzt geöffnet!"));

    w.menuAction("ListeAktualisierenx")->trigger();
    EXPECT_EQ(w.Label1->caption(), "Und der Focus darauf gesetzt!");

    w.Check1->setValue(0);
    const auto n = f.page->clicks.size();
    w.menuAction("StandartEinstellungx")->trigger();
    EXPECT_EQ(w.Check1->value(), 1);
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Programm, auf Standart Einstellung zurückgesetzt!"));
    EXPECT_TRUE(f.page->clicks.mid(n).contains("Stop"));
    EXPECT_EQ(f.page->clicks.last(), "user1");
}

TEST(Menu, ShortcutsMoveTheFocusWithTheirAnnouncement) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Command14->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.Command14, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.Text3);
    EXPECT_TRUE(w.Label1->caption().startsWith("Zwischenspeicher Textfeld."));
    QTest::keyClick(w.Text3, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.Furl);
    QTest::keyClick(w.Furl, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.File1);
}

TEST(Menu, AltAcceleratorsClickTheButtons) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Furl->setText("Adresse");
    w.File1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.File1, Qt::Key_S, Qt::AltModifier);
    QTest::qWait(300); // the accelerator animates its click
    EXPECT_EQ(f.textFile(), QByteArray("Adresse"));
}

TEST(Menu, F10OpensTheBarAnnouncesOnceAndEscapeGivesTheFocusBack) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Command15->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    const auto n = f.page->clicks.size();
    QTest::keyClick(w.Command15, Qt::Key_F10);
    QApplication::processEvents();
    ASSERT_TRUE(w.menuBar()->activeAction());
    EXPECT_EQ(w.menuBar()->activeAction()->text(), "Felder");
    EXPECT_EQ(w.Label1->caption(), "Felder");
    EXPECT_EQ(f.page->clicks.size(), n + 1) << "the highlight is said once";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(w.menuBar()->activeAction(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), w.Command15);
}

TEST(Menu, CtrlUInTheAddressFieldKeepsTheAddress) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.Furl->setText("http://h.example/a.txt");
    w.Furl->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.Furl, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(w.Furl->text(), "http://h.example/a.txt");
    EXPECT_EQ(QApplication::focusWidget(), w.Furl);
    QTest::keyClick(w.Furl, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.Text3);
}

TEST(Menu, AFocusShortcutOnTheFocusedControlAnnouncesItAgain) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    w.File1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    const auto n = f.page->clicks.size();
    QTest::keyClick(w.File1, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(f.page->clicks.size(), n + 1);
    EXPECT_TRUE(w.Label1->caption().startsWith("Lokale Liste.."));
}
