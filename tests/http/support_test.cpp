// The test doubles other test folders build on: the HTTP test server's
// own promises and the fake client.
#include "platform/curlhttpclient.h"
#include "support/fakehttpclient.h"
#include "support/httptestserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

using lesemund::platform::CurlHttpClient;
using lesemund::platform::HttpClient;
using lesemund::platform::HttpResult;
using lesemund::testing::FakeHttpClient;
using lesemund::testing::HttpTestServer;

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(TestServer, StopsPromptlyWhileAConnectionIsStalled) {
    auto server = std::make_unique<HttpTestServer>();
    server->stall("/haengt");
    CurlHttpClient client(CurlHttpClient::Limits{1000, 10000, 5});
    HttpResult r;
    r.ok = true;
    std::thread fetcher([&] { r = client.get(server->url("/haengt")); });
    const auto wait = Clock::now();
    while (server->hitCount("/haengt") == 0 && millisecondsSince(wait) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server->hitCount("/haengt"), 1);
    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(millisecondsSince(start), 1000);
    fetcher.join();
    // The connection was closed without an answer: the fetch failed early.
    EXPECT_FALSE(r.ok);
    EXPECT_LT(millisecondsSince(start), 3000);
}

TEST(TestServer, StopsPromptlyWhileAHugeBodyWaitsForAReader) {
    auto server = std::make_unique<HttpTestServer>();
    server->serveHuge("/riesig");
    // A raw connection that asks and then never reads.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(server->port());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const char request[] = "GET /riesig HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, request, sizeof request - 1, 0), ssize_t(sizeof request - 1));
    const auto wait = Clock::now();
    while (server->hitCount("/riesig") == 0 && millisecondsSince(wait) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(millisecondsSince(start), 1000);
    ::close(fd);
}

TEST(TestServer, RecordsQueryAndHeadersAndAnswersUnknownPathsWith404) {
    HttpTestServer server;
    server.serve("/a.txt", "A", "text/plain; charset=utf-8");
    CurlHttpClient client;
    const HttpResult a = client.get(server.url("/a.txt?x=1"));
    EXPECT_EQ(a.body, "A");
    EXPECT_EQ(a.contentType, "text/plain; charset=utf-8");
    const HttpResult missing = client.get(server.url("/b.txt"));
    EXPECT_EQ(missing.status, 404);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].target, "/a.txt?x=1");
    EXPECT_EQ(requests[0].path, "/a.txt");
    EXPECT_EQ(requests[0].header("host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_EQ(requests[1].path, "/b.txt");
}

TEST(TestServer, ClosedPortRefusesConnections) {
    const quint16 port = HttpTestServer::closedPort();
    ASSERT_NE(port, 0);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
}

TEST(FakeClient, AnswersFromItsTableAndRecordsEveryRequest) {
    FakeHttpClient fake;
    fake.setResponse("http://h/a.txt", "Hallo Welt", "text/plain; charset=utf-8");
    fake.setFailure("http://h/tot.txt");
    HttpClient &client = fake;
    const HttpResult a = client.get("http://h/a.txt");
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.body, "Hallo Welt");
    EXPECT_EQ(a.contentType, "text/plain; charset=utf-8");
    EXPECT_FALSE(client.get("http://h/tot.txt").ok);
    EXPECT_FALSE(client.get("http://h/unbekannt.txt").ok);
    client.get("http://h/a.txt", HttpClient::kDocumentLimit);
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_EQ(requests[0].maxBytes, HttpClient::kTextLimit);
    EXPECT_EQ(requests[3].maxBytes, HttpClient::kDocumentLimit);
    EXPECT_EQ(fake.requestCount("http://h/a.txt"), 2);
    fake.clearRequests();
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST(FakeClient, CutsAtTheCallersLimitLikeTheRealClient) {
    FakeHttpClient fake;
    fake.setResponse("http://h/lang.txt", QByteArray(120000, 'l'));
    const HttpResult r = fake.get("http://h/lang.txt");
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body.size(), 50000);
    EXPECT_FALSE(fake.get("http://h/lang.txt", 0).ok);
}

TEST(FakeClient, DefaultAnswerAndHookDuringTheFetch) {
    FakeHttpClient fake;
    HttpResult fallback;
    fallback.ok = true;
    fallback.body = "Standard";
    fake.setDefault(fallback);
    QString seen;
    fake.onGet = [&](const QString &url) { seen = url; };
    EXPECT_EQ(fake.get("http://h/irgendwas").body, "Standard");
    EXPECT_EQ(seen, QStringLiteral("http://h/irgendwas"));
}

} // namespace
