// Reading from web addresses in the window: the address reader and its
// check, the watcher, the address field, the chats and the singing example.
#include "support/formfixture.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";
const QString kNothing = QStringLiteral("Bei dieser URL Adresse habe ich nichts gefunden!");
} // namespace

TEST(UrlReading, EveryMarkerRunsItsReaderTheTextIsSpokenThroughTheWindowFile) {
    FormFixture f;
    Form1 &w = *f.form;
    f.timer(4).fire();  // the options are loaded
    f.http->setResponse("http://h.example/a.txt", "Gr\xFC\xDF" "e aus dem Netz");
    w.Furl->setText("http://h.example/a.txt");
    w.Command14->click();
    EXPECT_EQ(w.Text3->text(), QString::fromUtf8("Grüße aus dem Netz"));
    EXPECT_EQ(f.page->windowFileAtClick.last(), kDirective + "Gr\xFC\xDF" "e aus dem Netz\r\n");
    f.timer(5).fire();  // something was found: the check ends quietly
    EXPECT_TRUE(!f.timer(5).isActive() && w.Label1->caption() != kNothing);

    // Markers are case-sensitive; an address with two runs two readers.
    for (const auto &[address, clicks, fetches] : {std::tuple{"http://h.example/A.TXT", QStringList{}, 0},
             {"http://h.example/a.txt.ok", QStringList{"fenster1", "fenster1", "user2"}, 2},
             {"http://h.okay.example/x.okz", QStringList{"fenster1", "user2"}, 1},
             {"http://h.example/b.docx", QStringList{"user1"}, 0}, {"http://h.example/b.odt", QStringList{"user1"}, 0},
             {"http://h.example/b.pdf", QStringList{"user1"}, 0}}) {
        const auto n = f.page->clicks.size(), fetched = f.http->requests.size();
        w.Furl->setText(address);
        w.Command14->click();
        EXPECT_EQ(f.page->clicks.mid(n), clicks) << address;
        EXPECT_EQ(f.http->requests.size() - fetched, fetches) << address;
    }

    const QString song = kMakerServer + "/vokaset/auto/Singen/chor.txt";
    f.http->setResponse(song, "<speak>la la</speak>");
    w.singen->click();
    EXPECT_EQ(w.Furl->text(), song);
    EXPECT_EQ(f.windowFile(), kDirective + "<speak>la la</speak>\r\n");
    EXPECT_TRUE(w.Text4->text() == "optionen" && !w.Command25->isEnabled()) << "the options are unchanged";
}

TEST(UrlReading, FailedFetchEmptiesTheFieldTheCheckSaysNothingWasFoundWithTheDriveHint) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Text3->setText("alt");
    w.Command8->click();  // no address: the directive alone is spoken
    EXPECT_EQ(w.Text3->text(), "");
    EXPECT_EQ(f.page->windowFileAtClick.last(), kDirective + "\r\n");
    const QString hint = QString::fromUtf8("Wenn von einem Datenträger aus gelesen werden soll. Dann sollte file:// vor "
                                           "dem Laufwerksbuchstaben stehen!");
    for (const auto &[address, said, spoken] : {std::tuple{"c:\\Texte\\brief.txt", kNothing, 1},
                                                {"C:\\Texte\\brief.txt", hint, 2}, {"http://h.example/", kNothing, 1}}) {
        w.Furl->setText(address);
        w.Command14->click();  // no marker: nothing is read, the check is armed all the same
        const auto n = f.page->clicks.size();
        f.timer(5).fire();
        EXPECT_EQ(w.Label1->caption(), said) << address;
        EXPECT_EQ(f.page->clicks.size() - n, spoken) << address;
        EXPECT_FALSE(f.timer(5).isActive());
    }
}

TEST(UrlWatcher, SpeaksAChangeOnTheSecondTick) {
    // A chat longer than a line field holds must compare equal all the same.
    for (const QByteArray &first : {QByteArray("eins"), QByteArray(42'000, 'x')}) {
        FormFixture f;
        Form1 &w = *f.form;
        const QString url = "http://h.example/chat.txt";
        f.http->setResponse(url, first);
        w.Furl->setText(url);
        w.Check3->setValue(1);
        f.timer(2).fire();  // Text3 and the comparison field are both empty: fetch
        EXPECT_EQ(w.Text3->text(), QString::fromLatin1(first));
        const auto n = f.page->clicks.size();
        f.timer(2).fire();  // different: speak
        EXPECT_EQ(f.page->clicks.mid(n), QStringList{"user2"});
        EXPECT_EQ(f.page->textFileAtClick.last(), first + "\r\n");
        f.timer(2).fire();  // the same: fetch again, say nothing
        f.http->setResponse(url, first + "\nzwei");
        f.timer(2).fire();  // fetch the grown text
        f.timer(2).fire();  // and speak it
        EXPECT_EQ(f.page->clicks.size(), n + 2) << first.size();
        EXPECT_EQ(f.textFile(), first + "\nzwei\r\n");
        EXPECT_EQ(f.http->requests.size(), 3);
    }
}

TEST(AddressField, KeysReadOpenClearMarkChangesAndTheAddressIsStored) {
    FormFixture f;
    Form1 &w = *f.form;
    f.showActive();
    f.timer(4).fire();
    w.Furl->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_FALSE(w.Command25->isEnabled());
    const auto n = f.page->clicks.size();
    QTest::keyClick(w.Furl, Qt::Key_Left);
    EXPECT_TRUE(w.Command25->isEnabled() && w.Text4->text() == "neue optionen");
    EXPECT_EQ(f.page->clicks.size(), n);  // only Enter reads
    w.Text3->setText("Inhalt");
    QTest::keyClick(w.Furl, Qt::Key_Return);  // Enter reads the address as a document
    EXPECT_EQ(f.page->textFileAtClick.value(n), kDirective + "Inhalt\r\n");
    for (const char *address : {"-v", "", "http://h.example/neu.txt"}) {
        w.Furl->setText(address);
        QTest::keyClick(w.Furl, Qt::Key_F9, Qt::ShiftModifier);
    }
    EXPECT_EQ(f.shell->opened, QStringList{"http://h.example/neu.txt"});
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Die Adresse ist nicht gültig!"));  // said for "-v"
    w.Command25->click();
    EXPECT_EQ(w.Label1->caption(), "URL wurde gespeichert!");
    EXPECT_TRUE(f.data.read("optionen.ini").contains("URLAdessenfeld=http://h.example/neu.txt\r\n"));
    w.Furl->setText(QString::fromUtf8("  http://h.example/ä b  "));
    w.URLspeichern->click();
    EXPECT_EQ(w.Label1->caption(), "Neue URL Adresse wurde gespeichert.");
    EXPECT_EQ(f.data.read("URL.txt"), "  http://h.example/\xE4 b  ");
    QTest::keyClick(w.Furl, Qt::Key_Delete);
    EXPECT_EQ(w.Furl->text(), "");
    w.URLlesen->click();
    EXPECT_EQ(w.Furl->text(), QString::fromUtf8("  http://h.example/ä b  "));
    EXPECT_EQ(w.Label1->caption(), "URL Adresse wurde eingelesen.");

    for (const char *name : {"URL.txt", "optionen.ini"}) {  // folders where the files should be
        QFile::remove(f.data.path(name));
        QDir(f.data.dataFolder()).mkdir(name);
    }
    for (auto *store : {w.URLspeichern, w.Command25}) {
        w.Label1->setCaption(QString());
        w.Command25->setEnabled(true);
        store->click();
        EXPECT_EQ(w.Label1->caption(), "URL konnte nicht gespeichert werden!");
    }
    EXPECT_FALSE(w.Command25->isEnabled());
}

TEST(Chat, OpensThePageStopsSpeechAndWatchesTheTextAnOptionLikePageIsRefused) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("chat.ini", "[optionen]\r\nchat1=http://h.example/c1.txt\r\nchat1+=http://h.example/c1\r\n"
                             "chat2=http://h.example/c2.txt\r\nchat2+=--kiosk\r\n");
    const auto n = f.page->clicks.size();
    w.chat1->click();
    EXPECT_EQ(f.browser->opened, QStringList{"http://h.example/c1"});
    EXPECT_EQ(f.page->clicks.mid(n, 2), (QStringList{"Stop", "user1"}));  // then "Chat 1."
    EXPECT_EQ(w.Furl->text(), "http://h.example/c1.txt");
    EXPECT_TRUE(w.Check3->value() == 1 && f.timer(2).isActive());

    w.Check3->setValue(0);
    w.chat2->click();  // a page address like an option is not opened; the text is watched all the same
    EXPECT_EQ(f.browser->opened.size(), 1);
    EXPECT_TRUE(w.Furl->text() == "http://h.example/c2.txt" && w.Check3->value() == 1);
    EXPECT_EQ(w.Label1->caption(), QString::fromUtf8("Die Chat Adresse ist nicht gültig!"));
}
