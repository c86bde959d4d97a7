// Reading from web addresses: the fetcher, the address reader with its
// check, the watcher, the stored address, the chats and the singing example.
#include "platform/curlhttpclient.h"
#include "settings/formini.h"
#include "support/formfixture.h"
#include "support/httptestserver.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {
const QByteArray kDirective = "#voice=name:qvx.de.tonra#";
const QString kNothing = "Bei dieser URL Adresse habe ich nichts gefunden!";
const QString kHint = QString::fromUtf8(
    "Wenn von einem Datenträger aus gelesen werden soll. Dann sollte file:// vor dem Laufwerksbuchstaben stehen!");
} // namespace

TEST(UrlReading, TextAddressIsFetchedAndSpokenThroughTheWindowFile) {
    FormFixture f;
    Form1 &w = *f.form;
    f.http->setResponse("http://h.example/a.txt", "Gr\xFC\xDF" "e aus dem Netz", "text/plain");
    w.Furl->setText("http://h.example/a.txt");
    const auto n = f.page->clicks.size();
    w.Command14->click();
    EXPECT_EQ(w.Text3->text(), QString::fromUtf8("Grüße aus dem Netz"));
    EXPECT_EQ(f.windowFile(), kDirective + "Gr\xFC\xDF" "e aus dem Netz\r\n");
    EXPECT_EQ(f.page->clicks.mid(n), QStringList{"fenster1"});
    EXPECT_TRUE(f.timer(5).isActive());
    f.timer(5).fire();
    EXPECT_FALSE(f.timer(5).isActive());
    EXPECT_NE(w.Label1->caption(), kNothing);
}

TEST(UrlReading, OkAddressClicksUser2AfterTheWindowFile) {
    FormFixture f;
    Form1 &w = *f.form;
    f.http->setResponse("http://h.example/chat/chat1.ok", "Hallo");
    w.Furl->setText("http://h.example/chat/chat1.ok");
    const auto n = f.page->clicks.size();
    w.Command14->click();
    EXPECT_EQ(f.page->clicks.mid(n), (QStringList{"fenster1", "user2"}));
}

TEST(UrlReading, MarkersAreCaseSensitiveAndAllRowsAreTested) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Furl->setText("http://h.example/A.TXT");
    w.Command14->click();
    EXPECT_EQ(f.http->requests().size(), 0);

    w.Furl->setText("http://h.example/a.txt.ok");
    w.Command14->click();
    EXPECT_EQ(f.http->requestCount("http://h.example/a.txt.ok"), 2);

    f.http->clearRequests();
    w.Furl->setText("http://h.okay.example/x.okz");
    w.Command14->click();
    EXPECT_EQ(f.http->requestCount("http://h.okay.example/x.okz"), 1);
}

TEST(UrlReading, CheckAfterFiveSecondsSaysNothingWasFoundAndGivesTheDriveHint) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Furl->setText("C:\\Texte\\brief.txt");
    w.Command14->click();
    EXPECT_EQ(w.Text3->text(), "");
    const auto n = f.page->clicks.size();
    f.timer(5).fire();
    EXPECT_EQ(w.Label1->caption(), kHint);
    EXPECT_EQ(f.page->clicks.size() - n, 2) << "both messages are spoken";
    EXPECT_FALSE(f.timer(5).isActive());

    w.Furl->setText("c:\\Texte\\brief.txt");
    w.Command14->click();
    f.timer(5).fire();
    EXPECT_EQ(w.Label1->caption(), kNothing);

    // No marker at all still arms the check.
    w.Furl->setText("http://h.example/");
    w.Command14->click();
    EXPECT_TRUE(f.timer(5).isActive());
}

TEST(UrlReading, FailedFetchEmptiesTheFieldAndStillSpeaksTheDirective) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Text3->setText("alt");
    w.Furl->setText("");
    w.Command8->click();
    EXPECT_EQ(w.Text3->text(), "");
    EXPECT_EQ(f.windowFile(), kDirective + "\r\n");
    EXPECT_EQ(f.page->clicks.last(), "fenster1");
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
        ASSERT_TRUE(f.timer(2).isActive());

        f.timer(2).fire(); // Text3 and the comparison field are both empty: fetch
        EXPECT_EQ(w.Text3->text(), QString::fromLatin1(first));
        const auto n = f.page->clicks.size();
        f.timer(2).fire(); // different: speak
        EXPECT_EQ(f.textFile(), first + "\r\n");
        EXPECT_EQ(f.page->clicks.mid(n), QStringList{"user2"});
        EXPECT_EQ(w.vergleichsfeld->text(), QString::fromLatin1(first));

        f.timer(2).fire(); // same: fetch again, nothing said
        EXPECT_EQ(f.page->clicks.size(), n + 1) << first.size();
        f.http->setResponse(url, first + "\nzwei");
        f.timer(2).fire(); // fetch the grown text
        f.timer(2).fire(); // and speak it
        EXPECT_EQ(f.textFile(), first + "\nzwei\r\n");
        EXPECT_EQ(f.http->requestCount(url), 3);
    }
}

TEST(UrlWatcher, TypedTextIsSpokenAtTheNextTickWithoutDirective) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Furl->setText("http://h.example/ohne-marke");
    w.Check3->setValue(1);
    w.Text3->setText("getippt");
    f.timer(2).fire();
    EXPECT_EQ(f.textFile(), QByteArray("getippt\r\n"));
    f.timer(2).fire();
    EXPECT_EQ(f.http->requests().size(), 0) << "no marker, nothing is fetched";
}

TEST(AddressField, KeysReadOpenClearAndMarkChanges) {
    FormFixture f;
    f.showActive();
    Form1 &w = *f.form;
    f.timer(4).fire();
    w.Furl->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_FALSE(w.Command25->isEnabled());

    QTest::keyClick(w.Furl, Qt::Key_Left);
    EXPECT_TRUE(w.Command25->isEnabled());
    EXPECT_EQ(w.Text4->text(), "neue optionen");

    w.Furl->setText("http://h.example/x");
    QTest::keyClick(w.Furl, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(f.shell->opened, QStringList{"http://h.example/x"});

    w.Furl->setCursorPosition(3);
    QTest::keyClick(w.Furl, Qt::Key_Delete);
    EXPECT_EQ(w.Furl->text(), "");
}

TEST(AddressField, StoredAddressRoundTripKeepsBlanks) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Furl->setText(QString::fromUtf8("  http://h.example/ä b  "));
    w.URLspeichern->click();
    EXPECT_EQ(w.Label1->caption(), "Neue URL Adresse wurde gespeichert.");
    EXPECT_EQ(f.data.read("URL.txt"), QByteArray("  http://h.example/\xE4 b  "));
    w.Furl->setText("x");
    w.URLlesen->click();
    EXPECT_EQ(w.Furl->text(), QString::fromUtf8("  http://h.example/ä b  "));
    EXPECT_EQ(w.Label1->caption(), "URL Adresse wurde eingelesen.");
}

TEST(AddressField, AFailedStoreIsNotAnnouncedAsSuccess) {
    FormFixture f;
    Form1 &w = *f.form;
    QDir(f.data.dataFolder()).mkdir("URL.txt"); // a folder stands where the file should be
    w.URLspeichern->click();
    EXPECT_EQ(w.Label1->caption(), "URL konnte nicht gespeichert werden!");

    QFile::remove(f.data.path("optionen.ini"));
    QDir(f.data.dataFolder()).mkdir("optionen.ini");
    w.Command25->setEnabled(true);
    w.Command25->click();
    EXPECT_EQ(w.Label1->caption(), "URL konnte nicht gespeichert werden!");
    EXPECT_FALSE(w.Command25->isEnabled());
}

TEST(AddressField, SaveButtonStoresInTheOptionsFile) {
    FormFixture f;
    Form1 &w = *f.form;
    w.Furl->setText("http://h.example/neu.txt");
    w.Command25->setEnabled(true);
    w.Command25->click();
    EXPECT_EQ(w.Label1->caption(), "URL wurde gespeichert!");
    EXPECT_FALSE(w.Command25->isEnabled());
    EXPECT_TRUE(f.data.read("optionen.ini").contains("URLAdessenfeld=http://h.example/neu.txt\r\n"));
}

TEST(Chat, OpensThePageStopsSpeechAndWatchesTheText) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("chat.ini", "[optionen]\r\nchat1=http://h.example/c1.txt\r\nchat1+=http://h.example/c1\r\n");
    const auto n = f.page->clicks.size();
    w.chat1->click();
    EXPECT_EQ(f.browser->opened, QStringList{"http://h.example/c1"});
    EXPECT_EQ(f.page->clicks.mid(n, 2), (QStringList{"Stop", "user1"})); // stop, then "Chat 1."
    EXPECT_EQ(w.Furl->text(), "http://h.example/c1.txt");
    EXPECT_EQ(w.Check3->value(), 1);
    EXPECT_TRUE(f.timer(2).isActive());

    // A changed file is used at the next click; chat 2 is empty here.
    f.data.write("chat.ini", "[optionen]\r\nchat2=http://h.example/c2.txt\r\nchat2+=http://h.example/c2\r\n");
    w.chat2->click();
    EXPECT_EQ(f.browser->opened.last(), "http://h.example/c2");
    EXPECT_EQ(w.Furl->text(), "http://h.example/c2.txt");
    EXPECT_EQ(w.Label1->caption(), "Chat 2.") << "Check3 was on already: its handler does not run";
}

TEST(Chat, WithoutABrowserOrWithAnOptionLikePageTheTextIsStillWatched) {
    FormFixture f;
    f.browser->available = false;
    f.form->chat1->click();
    EXPECT_EQ(f.form->Check3->value(), 1);

    FormFixture g;
    g.data.write("chat.ini", "[optionen]\r\nchat1=http://h.example/c1.txt\r\nchat1+=--kiosk\r\n");
    g.form->chat1->click();
    EXPECT_TRUE(g.browser->opened.isEmpty());
    EXPECT_EQ(g.form->Check3->value(), 1);
    EXPECT_EQ(g.form->Label1->caption(), QString::fromUtf8("Die Chat Adresse ist nicht gültig!"));
    EXPECT_EQ(g.page->clicks.last(), "user1");
}

TEST(Singing, FetchesTheExampleAndLeavesTheOptionsUnchanged) {
    FormFixture f;
    Form1 &w = *f.form;
    f.timer(4).fire();
    const QString song = kMakerServer + "/vokaset/auto/Singen/chor.txt";
    f.http->setResponse(song, "<speak>la la</speak>");
    w.singen->click();
    EXPECT_EQ(w.Furl->text(), song);
    EXPECT_EQ(f.windowFile(), kDirective + "<speak>la la</speak>\r\n");
    EXPECT_EQ(w.Text4->text(), "optionen");
    EXPECT_FALSE(w.Command25->isEnabled());
}

TEST(UrlReading, RealClientOnLoopbackCutsAt50000BytesAndSendsTheAgent) {
    HttpTestServer server;
    ASSERT_TRUE(server.isListening());
    QByteArray big;
    while (big.size() < 120000)
        big += "Zeile mit Text \xE4\xF6\xFC.\n";
    big.truncate(120000);
    server.serve("/gross.txt", big, "text/plain; charset=windows-1252");
    FormFixture f(true, [](platform::Services &s) { s.http = std::make_shared<platform::CurlHttpClient>(); });
    f.form->Furl->setText(server.url("/gross.txt"));
    f.form->Command14->click();
    EXPECT_EQ(f.form->Text3->text().size(), 50000);
    EXPECT_EQ(f.windowFile(), kDirective + big.left(50000) + "\r\n");
    ASSERT_EQ(server.requestsFor("/gross.txt").size(), 1);
    EXPECT_EQ(server.requestsFor("/gross.txt")[0].header("User-Agent"), "Klarbit-5H");
}
