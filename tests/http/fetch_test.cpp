// The libcurl client against a server on 127.0.0.1: what it sends, how much
// of the body it reads, how it follows redirects and how it fails.
#include "platform/curlhttpclient.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using lesemund::platform::CurlHttpClient;
using lesemund::platform::HttpClient;
using lesemund::platform::HttpResult;
using lesemund::testing::HttpTestRequest;
using lesemund::testing::HttpTestResponse;
using lesemund::testing::HttpTestServer;

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Text that differs at every position, so a wrong cut or a lost piece shows.
QByteArray numberedText(qsizetype size) {
    QByteArray text;
    text.reserve(size + 16);
    for (int line = 0; text.size() < size; ++line)
        text += "Zeile " + QByteArray::number(line) + " des Textes.\r\n";
    text.truncate(size);
    return text;
}

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isListening()); }

    HttpTestServer server;
    CurlHttpClient client;
};

// ---------------------------------------------------------------- the body

TEST_F(FetchTest, TextOf120000BytesIsCutAtTheFirst50000) {
    const QByteArray text = numberedText(120000);
    server.serve("/lang.txt", text);
    const HttpResult r = client.get(server.url("/lang.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    ASSERT_EQ(r.body.size(), 50000);
    EXPECT_EQ(r.body, text.left(50000));
    EXPECT_EQ(r.text(), QString::fromLatin1(text.left(50000)));
}

TEST_F(FetchTest, BodySentInManySmallPiecesIsReadToItsEnd) {
    const QByteArray text = numberedText(30000);
    server.handle("/tropfen.txt", [text](const HttpTestRequest &) {
        HttpTestResponse r;
        r.body = text;
        r.chunkSize = 700;
        r.chunkPauseMs = 2;
        return r;
    });
    const HttpResult r = client.get(server.url("/tropfen.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.body, text);
}

TEST_F(FetchTest, PiecesBeyondTheLimitAreCutExactlyAtIt) {
    const QByteArray text = numberedText(120000);
    server.handle("/tropfen.txt", [text](const HttpTestRequest &) {
        HttpTestResponse r;
        r.body = text;
        r.chunkSize = 999;
        r.contentLength = false;  // the end is known only when the server closes
        return r;
    });
    const HttpResult r = client.get(server.url("/tropfen.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body, text.left(50000));
}

TEST_F(FetchTest, BodyOfExactlyTheLimitIsWholeAndNotMarkedCut) {
    const QByteArray text = numberedText(50000);
    server.serve("/genau.txt", text);
    const HttpResult r = client.get(server.url("/genau.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.body, text);
}

TEST_F(FetchTest, EmptyBodyIsAnEmptyText) {
    server.serve("/leer.txt", QByteArray());
    const HttpResult r = client.get(server.url("/leer.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_TRUE(r.text().isEmpty());
}

TEST_F(FetchTest, TenMegabytesAreCutAtTheLimitWithoutWaitingForTheRest) {
    server.serveHuge("/riesig.txt");
    const auto start = Clock::now();
    const HttpResult r = client.get(server.url("/riesig.txt"));
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body, QByteArray(50000, 'x'));
}

TEST_F(FetchTest, DocumentDownloadReadsTenMegabytesWhole) {
    server.serveHuge("/riesig.doc", 10 * 1024 * 1024, 'd');
    const HttpResult r = client.get(server.url("/riesig.doc"), HttpClient::kDocumentLimit);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.body.size(), 10 * 1024 * 1024);
    EXPECT_EQ(r.body.count('d'), r.body.size());
}

TEST_F(FetchTest, LimitAboveTheDocumentLimitIsTakenAsTheDocumentLimit) {
    const qsizetype size = HttpClient::kDocumentLimit + 1000;
    server.serveHuge("/zu-gross.doc", size, 'z');
    const HttpResult r = client.get(server.url("/zu-gross.doc"), 100 * 1024 * 1024);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body.size(), HttpClient::kDocumentLimit);
}

TEST_F(FetchTest, LimitBelowOneReadsNothing) {
    server.serve("/a.txt", "abc");
    EXPECT_FALSE(client.get(server.url("/a.txt"), 0).ok);
    EXPECT_FALSE(client.get(server.url("/a.txt"), -5).ok);
    EXPECT_EQ(server.hitCount("/a.txt"), 0);
}

TEST_F(FetchTest, BinaryBodyArrivesByteForByte) {
    QByteArray bytes;
    for (int round = 0; round < 40; ++round)
        for (int b = 0; b < 256; ++b)
            bytes.append(char(b));
    server.serve("/bild.bin", bytes, "application/octet-stream");
    const HttpResult r = client.get(server.url("/bild.bin"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, bytes);
    EXPECT_EQ(r.contentType, "application/octet-stream");
    // Not UTF-8: one character for each byte, the zero bytes included.
    EXPECT_EQ(r.text().size(), bytes.size());
}

TEST_F(FetchTest, ErrorPageOf404IsTheText) {
    server.setNotFoundBody("<html>Diese Seite gibt es nicht.</html>");
    const HttpResult r = client.get(server.url("/fehlt.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.text(), QStringLiteral("<html>Diese Seite gibt es nicht.</html>"));
}

TEST_F(FetchTest, ServerErrorBodyIsTheText) {
    server.serve("/kaputt", "Fehler 500", "text/plain", 500);
    const HttpResult r = client.get(server.url("/kaputt"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "Fehler 500");
}

TEST_F(FetchTest, FetchingTwiceFetchesTwiceAndSeesTheChange) {
    server.serve("/chat.txt", "erste Zeile");
    EXPECT_EQ(client.get(server.url("/chat.txt")).body, "erste Zeile");
    server.serve("/chat.txt", "erste Zeile\r\nzweite Zeile");
    EXPECT_EQ(client.get(server.url("/chat.txt")).body, "erste Zeile\r\nzweite Zeile");
    EXPECT_EQ(server.hitCount("/chat.txt"), 2);
}

// ---------------------------------------------------------- the request

TEST_F(FetchTest, ServerSeesTheAgentAndTheNoCacheHeaders) {
    server.serve("/a.txt", "hallo");
    ASSERT_TRUE(client.get(server.url("/a.txt")).ok);
    const QList<HttpTestRequest> seen = server.requestsFor("/a.txt");
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].header("User-Agent"), "Klarbit-5H");
    EXPECT_EQ(seen[0].header("Cache-Control"), "no-cache");
    EXPECT_EQ(seen[0].header("Pragma"), "no-cache");
    EXPECT_FALSE(seen[0].hasHeader("If-Modified-Since"));
    EXPECT_FALSE(seen[0].hasHeader("If-None-Match"));
}

TEST_F(FetchTest, ProxyFromTheEnvironmentIsNotUsed) {
    // A proxy that does not exist: a client using it would fail.
    const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(HttpTestServer::closedPort());
    const QByteArray names[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"};
    QList<QPair<QByteArray, QByteArray>> saved;
    for (const QByteArray &name : names) {
        saved.append({name, qgetenv(name.constData())});
        qputenv(name.constData(), proxy);
    }
    qunsetenv("no_proxy");
    server.serve("/direkt.txt", "direkt");
    const HttpResult r = client.get(server.url("/direkt.txt"));
    for (const auto &s : saved) {
        if (s.second.isEmpty())
            qunsetenv(s.first.constData());
        else
            qputenv(s.first.constData(), s.second);
    }
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "direkt");
}

TEST_F(FetchTest, BlanksAndUmlautsInThePathAreSentPercentEncoded) {
    server.serve("/Gr%C3%BC%C3%9Fe%20an%20alle.txt", "gefunden");
    const HttpResult r = client.get(server.url(QStringLiteral("/Grüße an alle.txt")));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "gefunden");
}

TEST_F(FetchTest, BlanksAroundTheAddressAreIgnored) {
    server.serve("/a.txt", "hallo");
    const HttpResult r = client.get("  " + server.url("/a.txt") + "\r\n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "hallo");
}

TEST_F(FetchTest, ShellCharactersInTheAddressAreSentAsTheyStand) {
    const QString target = QStringLiteral("/x;id&a=$(whoami)|`ls`'q'");
    const HttpResult r = client.get(server.url(target));
    EXPECT_TRUE(r.ok);  // the 404 page
    const QList<HttpTestRequest> seen = server.requests();
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].target, target.toUtf8());
}

TEST_F(FetchTest, ZeroCharacterInTheAddressIsRefusedNotShortened) {
    server.serve("/a.txt", "hallo");
    const HttpResult r = client.get(server.url("/a.txt") + QChar(0) + QStringLiteral("b.txt"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(server.hitCount("/a.txt"), 0);
}

// ----------------------------------------------------------- redirects

TEST_F(FetchTest, RedirectIsFollowedToTheText) {
    server.redirect("/alt.txt", "/neu.txt");
    server.serve("/neu.txt", "der neue Text");
    const HttpResult r = client.get(server.url("/alt.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "der neue Text");
    EXPECT_EQ(server.hitCount("/alt.txt"), 1);
    EXPECT_EQ(server.hitCount("/neu.txt"), 1);
    EXPECT_EQ(server.requestsFor("/neu.txt")[0].header("User-Agent"), "Klarbit-5H");
}

TEST_F(FetchTest, FiveRedirectsAreFollowedASixthIsNot) {
    for (int i = 0; i < 6; ++i)
        server.redirect("/r" + QByteArray::number(i), "/r" + QByteArray::number(i + 1), 301);
    server.serve("/r5", "nach fuenf");
    server.serve("/r6", "nach sechs");
    const HttpResult five = client.get(server.url("/r0"));
    EXPECT_TRUE(five.ok);
    EXPECT_EQ(five.body, "nach fuenf");

    server.redirect("/r5", "/r6", 301);
    const HttpResult six = client.get(server.url("/r0"));
    EXPECT_FALSE(six.ok);
    EXPECT_TRUE(six.body.isEmpty());
    EXPECT_EQ(server.hitCount("/r6"), 0);
}

TEST_F(FetchTest, RedirectLoopIsRefusedAfterAFewRounds) {
    server.redirect("/kreis.txt", "/kreis.txt");
    const auto start = Clock::now();
    const HttpResult r = client.get(server.url("/kreis.txt"));
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_TRUE(r.text().isEmpty());
    EXPECT_EQ(server.hitCount("/kreis.txt"), 6);  // the first request and five redirects
}

TEST_F(FetchTest, RedirectToALocalFileIsRefused) {
    server.redirect("/weiter", "file:///etc/hostname");
    const HttpResult r = client.get(server.url("/weiter"));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
}

TEST_F(FetchTest, RedirectToFtpIsRefused) {
    server.redirect("/weiter", "ftp://127.0.0.1:" + QByteArray::number(server.port()) + "/x.txt");
    const HttpResult r = client.get(server.url("/weiter"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(server.requests().size(), 1);  // no second connection
}

// -------------------------------------------------- failures and limits

TEST(FetchLimits, DefaultsAreFiveSecondsToConnectAndFifteenForTheWhole) {
    const CurlHttpClient client;
    EXPECT_EQ(client.connectTimeoutMs(), 5000);
    EXPECT_EQ(client.totalTimeoutMs(), 15000);
    EXPECT_EQ(client.maxRedirects(), 5);
}

TEST(FetchLimits, ServerThatNeverAnswersGivesAnEmptyResultWithinTheLimit) {
    HttpTestServer server;
    server.stall("/haengt.txt");
    CurlHttpClient client(CurlHttpClient::Limits{500, 1200, 5});
    const auto start = Clock::now();
    const HttpResult r = client.get(server.url("/haengt.txt"));
    const long long elapsed = millisecondsSince(start);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_GE(elapsed, 1100);
    EXPECT_LT(elapsed, 3000);
    EXPECT_EQ(server.hitCount("/haengt.txt"), 1);
}

TEST(FetchLimits, BodyStillComingAtTheLimitGivesAnEmptyResult) {
    HttpTestServer server;
    server.handle("/zaeh.txt", [](const HttpTestRequest &) {
        HttpTestResponse r;
        r.body = QByteArray(4000, 'z');
        r.chunkSize = 100;
        r.chunkPauseMs = 100;  // four seconds for the whole body
        return r;
    });
    CurlHttpClient client(CurlHttpClient::Limits{500, 1000, 5});
    const auto start = Clock::now();
    const HttpResult r = client.get(server.url("/zaeh.txt"));
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
}

TEST(FetchLimits, AnswerWithinTheLimitIsRead) {
    HttpTestServer server;
    server.serveAfter("/spaet.txt", 300, "endlich");
    CurlHttpClient client(CurlHttpClient::Limits{500, 2000, 5});
    const HttpResult r = client.get(server.url("/spaet.txt"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "endlich");
}

TEST(FetchLimits, ConnectionThatIsNeverAcceptedEndsAtTheConnectLimit) {
    // A listening socket with a full backlog that never accepts: further
    // connection attempts get no answer at all.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        fillers.push_back(c);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    CurlHttpClient client(CurlHttpClient::Limits{700, 10000, 5});
    const QString url = QStringLiteral("http://127.0.0.1:%1/x.txt").arg(ntohs(addr.sin_port));
    const auto start = Clock::now();
    const HttpResult r = client.get(url);
    const long long elapsed = millisecondsSince(start);
    for (int c : fillers)
        ::close(c);
    ::close(fd);
    EXPECT_FALSE(r.ok);
    EXPECT_GE(elapsed, 600);
    EXPECT_LT(elapsed, 3000);  // the connect limit, far below the whole limit
}

TEST(FetchLimits, AbortRunningEndsAStalledFetchAtOnce) {
    HttpTestServer server;
    server.stall("/haengt.txt");
    CurlHttpClient client;
    HttpResult r;
    r.ok = true;
    const auto start = Clock::now();
    std::thread fetcher([&] { r = client.get(server.url("/haengt.txt")); });
    while (server.hitCount("/haengt.txt") == 0 && millisecondsSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    client.abortRunning();
    fetcher.join();
    EXPECT_FALSE(r.ok);
    EXPECT_LT(millisecondsSince(start), 4000);
    // The client still works after the abort.
    server.serve("/danach.txt", "weiter");
    EXPECT_EQ(client.get(server.url("/danach.txt")).body, "weiter");
}

TEST(FetchFailures, ClosedPortGivesAnEmptyResultAtOnce) {
    CurlHttpClient client;
    const auto start = Clock::now();
    const HttpResult r =
        client.get(QStringLiteral("http://127.0.0.1:%1/chat.txt").arg(HttpTestServer::closedPort()));
    EXPECT_LT(millisecondsSince(start), 2000);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_TRUE(r.text().isEmpty());
}

TEST(FetchFailures, EmptyOrBlankAddressFailsWithoutARequest) {
    CurlHttpClient client;
    EXPECT_FALSE(client.get(QString()).ok);
    EXPECT_FALSE(client.get(QStringLiteral("   ")).ok);
    EXPECT_FALSE(client.get(QStringLiteral("\r\n")).ok);
}

TEST(FetchFailures, OtherSchemesAreRefusedWithoutAConnection) {
    HttpTestServer server;
    CurlHttpClient client;
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(server.port());
    for (const QString &scheme : {QStringLiteral("ftp"), QStringLiteral("gopher"), QStringLiteral("dict"),
                                  QStringLiteral("telnet"), QStringLiteral("smtp"), QStringLiteral("ldap"),
                                  QStringLiteral("mailto"), QStringLiteral("javascript")}) {
        const auto start = Clock::now();
        const HttpResult r = client.get(scheme + "://" + hostPort + "/x.txt");
        EXPECT_FALSE(r.ok) << scheme.toStdString();
        EXPECT_TRUE(r.body.isEmpty()) << scheme.toStdString();
        EXPECT_LT(millisecondsSince(start), 1000) << scheme.toStdString();
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(FetchFailures, MalformedAddressesFailQuietly) {
    CurlHttpClient client;
    const QString port = QString::number(HttpTestServer::closedPort());
    const QStringList addresses = {
        QStringLiteral("http://"),
        QStringLiteral("://"),
        QStringLiteral("http://[::1"),
        QStringLiteral("http://exa mple.invalid/a.txt"),
        QStringLiteral("C:\\Texte\\brief.txt"),
        QStringLiteral("c:\\texte\\brief.txt"),
        QStringLiteral("http://127.0.0.1:99999/a.txt"),
        QStringLiteral("http://127.0.0.1:") + port + QStringLiteral("/\tTab.txt"),
        QStringLiteral("http://127.0.0.1:") + port + "/" + QString(100000, QChar('a')),
        QStringLiteral("http://127.0.0.1:") + port + "/;rm -rf ~;$(reboot)`halt`\"'",
        QString(QChar(0)) + QStringLiteral("http://127.0.0.1/"),
    };
    for (const QString &address : addresses) {
        const auto start = Clock::now();
        const HttpResult r = client.get(address);
        EXPECT_FALSE(r.ok) << address.left(60).toStdString();
        EXPECT_TRUE(r.body.isEmpty());
        EXPECT_LT(millisecondsSince(start), 2000) << address.left(60).toStdString();
    }
}

TEST(FetchConcurrency, CallsFromSeveralThreadsGetTheirOwnBodies) {
    HttpTestServer server;
    for (int i = 0; i < 6; ++i)
        server.serveAfter("/t" + QByteArray::number(i), 50, "Text " + QByteArray::number(i));
    CurlHttpClient client;
    std::vector<HttpResult> results(6);
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&, i] { results[i] = client.get(server.url("/t" + QString::number(i))); });
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(results[i].ok);
        EXPECT_EQ(results[i].body, "Text " + QByteArray::number(i));
    }
}

} // namespace
