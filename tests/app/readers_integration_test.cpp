// The window with the real document readers and the real HTTP client on a
// loopback server: a document behind a web address.
#include "platform/curlhttpclient.h"
#include "docreaders/documentreader.h"
#include "platform/readerwordprocessor.h"
#include "support/formfixture.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

QByteArray fixture(const QString &name) {
    QFile f(QStringLiteral(LESEMUND_SOURCE_DIR "/tests/fixtures/documents/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window's text of an expected export: no final paragraph mark, inner ones as CR LF.
QString spokenForm(const QString &name) {
    return QString::fromUtf8(fixture(name)).remove(QChar(0xFEFF)).replace("\r\n", "\n").chopped(1).replace("\n", "\r\n");
}

} // namespace

TEST(ReadersInWindow, DocumentBehindAnAddressIsDownloadedAndRead) {
    HttpTestServer server;
    FormFixture f(true, [](platform::Services &s) {
        auto word = std::make_shared<platform::ReaderWordProcessorFactory>();
        word->setDownloader(platform::httpDownloader(s.http = std::make_shared<platform::CurlHttpClient>()));
        s.word = word;
    });
    Form1 &w = *f.form;
    for (const char *name : {"umlaute.rtf", "umlaute.docx", "umlaute.odt"}) {
        server.serve(QByteArray("/dokumente/") + name, fixture(name), "application/octet-stream");
        w.Furl->setText(server.url(QStringLiteral("/dokumente/") + name));
        w.Command14->click();
        EXPECT_EQ(w.Text3->text(), spokenForm(name + QStringLiteral(".expected"))) << name;
        EXPECT_EQ(f.page->clicks.last(), "user1");
        f.timer(5).fire();
        EXPECT_EQ(w.Label1->caption(), "Hilfe");  // something was found: nothing said
    }
}
