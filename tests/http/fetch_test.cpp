// The libcurl client against a server on 127.0.0.1: what it sends, how much
// of the body it reads, how it follows redirects and how it fails.
#include "platform/curlhttpclient.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <tuple>
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
    for (int line = 0; text.size() < size; ++line)
        text += "Zeile " + QByteArray::number(line) + " des Textes.\r\n";
    return text.left(size);
}

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isListening()); }

    HttpTestServer server;
    CurlHttpClient client;
};

// ---------------------------------------------------------------- the body

TEST_F(FetchTest, BodyIsReadToItsEndOrCutExactlyAt50000Bytes) {
    struct Case { const char *what; qsizetype size, chunkSize; int chunkPauseMs; bool contentLength; };
    const Case cases[] = {
        {"120 000 bytes in one piece", 120000, 0, 0, true},
        {"120 000 bytes in pieces, no length", 120000, 999, 0, false},
        {"many small pieces", 30000, 700, 2, true},
        {"exactly the limit", 50000, 0, 0, true},
        {"empty", 0, 0, 0, true},
    };
    for (const Case &c : cases) {
        const QByteArray text = numberedText(c.size);
        server.handle("/t.txt", [&](const HttpTestRequest &) {
            HttpTestResponse r;
            r.body = text;
            r.chunkSize = c.chunkSize;
            r.chunkPauseMs = c.chunkPauseMs;
            r.contentLength = c.contentLength;
            return r;
        });
        const HttpResult r = client.get(server.url("/t.txt"));
        EXPECT_TRUE(r.ok) << c.what;
        EXPECT_EQ(r.truncated, c.size > 50000) << c.what;
        EXPECT_EQ(r.body, text.left(50000)) << c.what;
    }
}

TEST_F(FetchTest, CallersLimitBelowOneReadsNothingAboveTheDocumentLimitIsCapped) {
    server.serveHuge("/zu-gross.doc", HttpClient::kDocumentLimit + 1000, 'z');
    EXPECT_FALSE(client.get(server.url("/zu-gross.doc"), 0).ok);
    EXPECT_FALSE(client.get(server.url("/zu-gross.doc"), -5).ok);
    EXPECT_EQ(server.hitCount("/zu-gross.doc"), 0);
    // 20 MB on a loaded machine may take longer than the usual whole-request
    // limit; the cap is what is tested here, not the time.
    const HttpResult r = CurlHttpClient({5000, 120000, 5}).get(server.url("/zu-gross.doc"), 100 * 1024 * 1024);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body.size(), HttpClient::kDocumentLimit);
}

TEST_F(FetchTest, BinaryBodyArrivesByteForByte) {
    QByteArray bytes;
    for (int i = 0; i < 40 * 256; ++i)
        bytes.append(char(i % 256));
    server.serve("/bild.bin", bytes, "application/octet-stream");
    const HttpResult r = client.get(server.url("/bild.bin"));
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
    QList<QPair<QByteArray, QByteArray>> saved;
    for (const QByteArray name : {"http_proxy", "HTTP_PROXY", "ALL_PROXY", "all_proxy"}) {
        saved.append({name, qgetenv(name.constData())});
        qputenv(name.constData(), proxy);
    }
    qunsetenv("no_proxy");
    server.serve("/direkt.txt", "direkt");
    const HttpResult r = client.get(server.url("/direkt.txt"));
    for (const auto &[name, value] : saved)
        value.isEmpty() ? qunsetenv(name.constData()) : qputenv(name.constData(), value);
    EXPECT_EQ(r.body, "direkt");
}

TEST_F(FetchTest, TypedAddressReachesTheServerAsABrowserSendsIt) {
    struct Case { QString before, path, after; QByteArray target; };
    const QString shell = QStringLiteral("/x;id&a=$(whoami)|`ls`'q'");
    const Case cases[] = {
        {"", QStringLiteral("/Grüße an alle.txt"), "", "/Gr%C3%BC%C3%9Fe%20an%20alle.txt"},
        {"  ", "/a.txt", "\r\n", "/a.txt"},
        {"", shell, "", shell.toUtf8()},
    };
    for (const Case &c : cases) {
        const HttpResult r = client.get(c.before + server.url(c.path) + c.after);
        EXPECT_TRUE(r.ok) << c.target.constData();  // the 404 page
        ASSERT_FALSE(server.requests().isEmpty());
        EXPECT_EQ(server.requests().last().target, c.target);
    }
    EXPECT_EQ(server.requests().size(), 3);
}

// ----------------------------------------------------------- redirects

TEST_F(FetchTest, FiveRedirectsAreFollowedALoopIsRefused) {
    for (int i = 0; i < 5; ++i)
        server.redirect("/r" + QByteArray::number(i), "/r" + QByteArray::number(i + 1), i % 2 ? 301 : 302);
    server.serve("/r5", "nach fuenf");
    const HttpResult r = client.get(server.url("/r0"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "nach fuenf");
    ASSERT_EQ(server.hitCount("/r5"), 1);
    EXPECT_EQ(server.requestsFor("/r5")[0].header("User-Agent"), "Klarbit-5H");

    server.redirect("/kreis.txt", "/kreis.txt");
    const auto start = Clock::now();
    const HttpResult loop = client.get(server.url("/kreis.txt"));
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_FALSE(loop.ok);
    EXPECT_TRUE(loop.body.isEmpty());
    EXPECT_EQ(server.hitCount("/kreis.txt"), 6);  // the first request and five redirects
}

TEST_F(FetchTest, RedirectToALocalFileOrFtpIsRefused) {
    const QByteArray ftp = "ftp://127.0.0.1:" + QByteArray::number(server.port()) + "/x.txt";
    for (const QByteArray &location : {QByteArray("file:///etc/hostname"), ftp}) {
        server.redirect("/weiter", location);
        const int before = server.requests().size();
        const HttpResult r = client.get(server.url("/weiter"));
        EXPECT_FALSE(r.ok) << location.constData();
        EXPECT_TRUE(r.body.isEmpty()) << location.constData();
        EXPECT_EQ(server.requests().size(), before + 1);  // no second connection
    }
}

// -------------------------------------------------- failures and limits

TEST(FetchLimits, DefaultsAreFiveSecondsToConnectAndFifteenForTheWhole) {
    const CurlHttpClient client;
    EXPECT_EQ(client.connectTimeoutMs(), 5000);
    EXPECT_EQ(client.totalTimeoutMs(), 15000);
    EXPECT_EQ(client.maxRedirects(), 5);
}

TEST(FetchLimits, DeadOrSlowServerGivesAnEmptyResultWithinItsLimit) {
    HttpTestServer server;
    server.stall("/haengt.txt");
    server.handle("/zaeh.txt", [](const HttpTestRequest &) {
        HttpTestResponse r;
        r.body = QByteArray(4000, 'z');
        r.chunkSize = 100;
        r.chunkPauseMs = 100;  // four seconds for the whole body
        return r;
    });
    // A listening socket with a full backlog that never accepts: further
    // connection attempts get no answer at all.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const QString local = QStringLiteral("http://127.0.0.1:%1/x.txt");
    const std::tuple<QString, int, int> cases[] = {
        {server.url("/haengt.txt"), 1400, 3000},                   // the whole limit
        {server.url("/zaeh.txt"), 1400, 3000},                     // the whole limit
        {local.arg(ntohs(addr.sin_port)), 400, 1300},              // the connect limit
        {local.arg(HttpTestServer::closedPort()), 0, 400},         // refused at once
    };
    CurlHttpClient client(CurlHttpClient::Limits{500, 1500, 5});
    for (const auto &[url, minMs, maxMs] : cases) {
        const auto start = Clock::now();
        const HttpResult r = client.get(url);
        const long long elapsed = millisecondsSince(start);
        EXPECT_FALSE(r.ok) << url.toStdString();
        EXPECT_TRUE(r.text().isEmpty()) << url.toStdString();
        EXPECT_GE(elapsed, minMs) << url.toStdString();
        EXPECT_LT(elapsed, maxMs) << url.toStdString();
    }
    for (int c : fillers)
        ::close(c);
    ::close(fd);
}

TEST(FetchFailures, EmptyMalformedAndOtherSchemeAddressesFailQuicklyWithoutARequest) {
    HttpTestServer server;
    CurlHttpClient client;
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(server.port());
    QStringList addresses = {
        QString(), QStringLiteral("   "), QStringLiteral("\r\n"), QStringLiteral("http://"),
        QStringLiteral("://"), QStringLiteral("http://[::1"), QStringLiteral("http://127.0.0.1:99999/a.txt"),
        QStringLiteral("C:\\Texte\\brief.txt"), QStringLiteral("C:/Texte/brief.txt"),
        QString(QChar(0)) + server.url("/a.txt"),
        server.url("/a.txt") + QChar(0) + QStringLiteral("b.txt"),  // refused, not shortened
    };
    for (const char *scheme : {"ftp", "gopher", "dict", "telnet", "smtp", "ldap", "mailto", "javascript"})
        addresses << QString::fromLatin1(scheme) + "://" + hostPort + "/x.txt";
    for (const QString &address : addresses) {
        const auto start = Clock::now();
        const HttpResult r = client.get(address);
        EXPECT_FALSE(r.ok) << address.toStdString();
        EXPECT_TRUE(r.body.isEmpty()) << address.toStdString();
        EXPECT_LT(millisecondsSince(start), 1000) << address.toStdString();
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

} // namespace
