// The window with the real document readers and the real HTTP client:
// Enter on a document in the list, and a document behind a web address.
#include "platform/curlhttpclient.h"
#include "platform/documentreader.h"
#include "platform/readerwordprocessor.h"
#include "support/formfixture.h"
#include "support/httptestserver.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

QByteArray fixture(const QString &name) {
    QFile f(QStringLiteral(LESEMUND_SOURCE_DIR) + "/tests/fixtures/documents/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The expected export holds the paragraphs, each ended by a line end; the
// window's text drops the final paragraph mark and ends inner ones in CR LF.
QString spokenForm(const QByteArray &expectedUtf8) {
    QString text = QString::fromUtf8(expectedUtf8);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace("\r\n", "\n");
    if (text.endsWith('\n'))
        text.chop(1);
    text.replace("\n", "\r\n");
    return text;
}

std::shared_ptr<platform::ReaderWordProcessorFactory> realWord(std::shared_ptr<platform::HttpClient> http) {
    auto word = std::make_shared<platform::ReaderWordProcessorFactory>();
    word->setDownloader(platform::httpDownloader(std::move(http)));
    return word;
}

} // namespace

TEST(ReadersInWindow, EnterOnADocInTheListReadsItAloud) {
    const QString previous = QDir::currentPath();
    auto http = std::make_shared<platform::CurlHttpClient>();
    FormFixture f(true, [&](platform::Services &s) {
        s.word = realWord(http);
        QFile out(s.appFolder + "/umlaute.doc");
        out.open(QIODevice::WriteOnly);
        out.write(fixture("umlaute.doc"));
        QDir::setCurrent(s.appFolder);
    });
    f.showActive();
    Form1 &w = *f.form;
    w.File1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    QTest::keyClick(w.File1, Qt::Key_Down);
    QTest::keyClick(w.File1, Qt::Key_Return);
    const QString expected = spokenForm(fixture("umlaute.doc.expected"));
    EXPECT_EQ(w.Text3->text(), expected);
    EXPECT_TRUE(expected.startsWith(QString::fromUtf8("Grüße aus Köln")));
    EXPECT_EQ(f.page->clicks.last(), "user1");
    QDir::setCurrent(previous);
}

TEST(ReadersInWindow, RtfBehindAnAddressIsDownloadedAndRead) {
    HttpTestServer server;
    server.serve("/dokumente/umlaute.rtf", fixture("umlaute.rtf"), "application/rtf");
    auto http = std::make_shared<platform::CurlHttpClient>();
    FormFixture f(true, [&](platform::Services &s) {
        s.http = http;
        s.word = realWord(http);
    });
    Form1 &w = *f.form;
    w.Furl->setText(server.url("/dokumente/umlaute.rtf"));
    w.Command14->click();
    EXPECT_EQ(w.Text3->text(), spokenForm(fixture("umlaute.rtf.expected")));
    EXPECT_EQ(f.page->clicks.last(), "user1");
    f.timer(5).fire();
    EXPECT_NE(w.Label1->caption(), "Bei dieser URL Adresse habe ich nichts gefunden!");
}

TEST(ReadersInWindow, UnreachableDocumentAddressKeepsTheOldTextAndTheCheckStaysQuiet) {
    auto http = std::make_shared<platform::CurlHttpClient>();
    FormFixture f(true, [&](platform::Services &s) {
        s.http = http;
        s.word = realWord(http);
    });
    Form1 &w = *f.form;
    w.Text3->setText("alter Text");
    w.Furl->setText("http://127.0.0.1:9/weg.doc");
    w.Command14->click();
    EXPECT_EQ(w.Text3->text(), "alter Text");
    f.timer(5).fire();
    EXPECT_EQ(w.Label1->caption(), "Hilfe") << "nothing is said while the field holds text";
}
