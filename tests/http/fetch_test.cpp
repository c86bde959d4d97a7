// The libcurl client against a server on 127.0.0.1 and on local files, and
// the decoding of a fetched body into text.
#include "platform/curlhttpclient.h"
#include "support/httptestserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

using namespace lesemund::platform;
using lesemund::testing::HttpTestServer;

namespace {

const QString kGruesse = QStringLiteral("Grüße aus Köln, 5 € für Äpfel");
const QByteArray kGruesseAnsi = "Gr\xFC\xDF" "e aus K\xF6ln, 5 \x80 f\xFCr \xC4pfel";

TEST(BodyDecoding, CharsetParameterUtf8OrWindows1252AndACutThatSplitsACharacter) {
    for (const auto &[type, utf8] : {std::pair{"text/html; charset=\"UTF-8\"", true}, {"text/plain; x=y; Charset = utf8", true},
                                     {"text/plain; charset=windows-1252", false}, {"text/utf-8", false}, {"text/plain; name=utf-8", false}})
        EXPECT_EQ(contentTypeSaysUtf8(type), utf8) << type;

    const QByteArray broken = QStringLiteral("Müller").toUtf8() + "\xFF" + QStringLiteral("Straße").toUtf8();
    const QString head = QStringLiteral("Preis ü ");
    const QByteArray euro = QStringLiteral("€").toUtf8(), emoji = QString::fromUcs4(U"\U0001F600").toUtf8();
    struct Case { const char *what; QByteArray body, type; bool cut; QString text; };
    const Case cases[] = {
        {"UTF-8, no charset", kGruesse.toUtf8(), "text/plain", false, kGruesse},
        {"Windows-1252", kGruesseAnsi, "text/plain", false, kGruesse},
        // The charset decides for UTF-8: the stray byte alone is replaced.
        {"UTF-8 charset, stray byte", broken, "text/plain; charset=utf-8", false,
         QStringLiteral("Müller") + QChar(0xFFFD) + QStringLiteral("Straße")},
        {"no charset, stray byte", broken, "text/plain", false, QStringLiteral("MÃ¼llerÿStraÃŸe")},
        {"cut in a 2-byte character", QByteArray(10, 'a') + "\xC3", "text/plain", true, QString(10, QChar('a'))},
        {"cut after 1 of 3 bytes", head.toUtf8() + euro.left(1), "", true, head},
        {"cut after 2 of 3 bytes", head.toUtf8() + euro.left(2), "", true, head},
        {"cut after 1 of 4 bytes", head.toUtf8() + emoji.left(1), "", true, head},
        {"cut right after a character", head.toUtf8() + euro, "", true, head + QStringLiteral("€")},
        // Windows-1252 text is no UTF-8 even without its last byte: it stays.
        {"Windows-1252, cut", "Gr\xFC\xDF", "text/plain", true, QStringLiteral("Grüß")},
        {"not cut, lone lead byte", "abc\xC3", "text/plain", false, QStringLiteral("abcÃ")},
        {"empty", "", "text/plain; charset=utf-8", true, QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decodeHttpBody(c.body, c.type, c.cut), c.text) << c.what;
}

TEST(AddressEncoding, BlanksAndNonAsciiAfterTheHostArePercentEncodedAsUtf8) {
    for (const auto &[typed, sent] : {std::pair{" http://bü.de/Grüße À x.txt\r\n", "http://bü.de/Gr%C3%BC%C3%9Fe%20%C3%80%20x.txt"},
                                      {"bü.de?ä ", "bü.de?%C3%A4"}, {"bü.de#ä", "bü.de#%C3%A4"}})
        EXPECT_EQ(CurlHttpClient::encodeAddress(QString::fromUtf8(typed)), QByteArray(sent)) << typed;
}

class Fetch : public ::testing::Test {
protected:
    // A proxy that does not exist: a client that used it would fail.
    void SetUp() override { qputenv("http_proxy", "http://127.0.0.1:1"); }
    HttpTestServer server;
    CurlHttpClient client;
};

TEST_F(Fetch, BodyIsReadWholeOrCutAtTheLimitAndDecoded) {
    QByteArray big;  // differs at every place, so that a wrong cut or a lost piece shows
    for (int line = 0; big.size() < 120000; ++line)
        big += "Zeile " + QByteArray::number(line) + " des Textes.\r\n";
    const QString bigText = QString::fromLatin1(big.left(50000));
    struct Case { QByteArray body, type; qsizetype max; int status; std::optional<QString> text; };
    const Case cases[] = {
        {big, "text/plain", 50000, 200, bigText},
        {big.left(50000), "text/plain", 50000, 200, bigText},
        {"ab", "text/plain", 1, 200, QStringLiteral("a")},
        {QByteArray(49999, 'a') + QStringLiteral("ü und mehr").toUtf8(), "text/plain", 50000, 200, QString(49999, 'a')},
        {QStringLiteral("Tür").toUtf8() + "\x80", "text/plain; charset=UTF-8", 50000, 200, QStringLiteral("Tür\uFFFD")},
        {"<html>Gibt es nicht.</html>", "text/html", 50000, 404, QStringLiteral("<html>Gibt es nicht.</html>")},
        {QByteArray(HttpClient::kDocumentLimit + 1000, 'z'), "application/msword", 100 << 20, 200, {}},
    };
    for (const Case &c : cases) {
        server.serve("/t", c.body, c.type, c.status);
        const HttpResult r = client.get(server.url("/t"), c.max);
        const qsizetype limit = std::min(c.max, HttpClient::kDocumentLimit);
        EXPECT_EQ(std::tuple(r.ok, r.status, r.contentType, r.truncated), std::tuple(true, c.status, c.type, c.body.size() > limit));
        EXPECT_TRUE(r.body == c.body.left(limit)) << c.body.size();
        EXPECT_TRUE(!c.text || r.text() == *c.text) << r.text().left(80).toStdString();
    }
}

TEST_F(Fetch, RequestCarriesTheAgentNoCacheAndTheAddressAsABrowserSendsIt) {
    EXPECT_TRUE(client.get("  " + server.url(QStringLiteral("/Grüße an;$(id)`ls`.txt")) + "\r\n").ok);  // the 404 page
    const QByteArray head = server.requests().value(0);
    EXPECT_TRUE(head.startsWith("GET /Gr%C3%BC%C3%9Fe%20an;$(id)`ls`.txt HTTP/1.1\r\n") && !head.contains("\r\nIf-")) << head.constData();
    for (const char *line : {"\r\nUser-Agent: Klarbit-5H\r\n", "\r\nCache-Control: no-cache\r\n", "\r\nPragma: no-cache\r\n"})
        EXPECT_TRUE(head.contains(line)) << line;
}

TEST_F(Fetch, BadAddressesAndOddFilesFailAtOnceAStalledServerWithinTheLimit) {
    QTemporaryDir dir;
    QFile file(dir.path() + QStringLiteral("/Märchen & Sagen.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("Es war einmal\r\n") == 15 && file.flush());
    EXPECT_EQ(client.get("file://" + file.fileName()).body, "Es war einmal\r\n");
    server.serve("/weiter", {302, "text/html", "", "/a.txt"});
    server.serve("/datei", {302, "text/html", "", "file:///etc/hostname"});  // redirects lead to web addresses only

    const QString url = server.url("/a.txt");
    const QStringList addresses = {
        QString(), "   ", "http://", "://", "http://[::1", "http://127.0.0.1:99999/a.txt", "http://127.0.0.1:1/a.txt",
        "C:\\Texte\\brief.txt", QChar(0) + url, url + QChar(0) + "b.txt", QString(url).replace("http", "ftp"),
        QString(url).replace("http", "dict"), "file://" + dir.path() + "/fehlt.txt", "file:///dev/zero", "file://" + dir.path(),
        server.url("/datei")};
    EXPECT_EQ(client.get(server.url("/weiter")).status, 404);
    for (const QString &address : addresses) {
        const auto start = std::chrono::steady_clock::now();
        const HttpResult r = client.get(address);
        EXPECT_FALSE(r.ok || !r.body.isEmpty()) << address.toStdString();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << address.toStdString();
    }
    EXPECT_FALSE(client.get(url, 0).ok || client.get(url, -5).ok);
    EXPECT_EQ(server.requests().size(), 3);  // "/weiter", "/a.txt", "/datei"

    server.serve("/haengt", {0, "", "", ""});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CurlHttpClient({500, 1500, 5}).get(server.url("/haengt")).ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

} // namespace
