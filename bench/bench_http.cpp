// Fetching a 50 000-byte text from a server on the loopback interface with
// the libcurl client: 100 fetches, each with its own connection, timed
// from the call to the decoded text.
#include "bench/benchutil.h"
#include "platform/curlhttpclient.h"
#include "support/httptestserver.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using lesemund::platform::CurlHttpClient;
using lesemund::platform::HttpResult;
using lesemund::testing::HttpTestServer;

namespace {

double percentile(const std::vector<double> &sorted, double p) {
    const double at = p * double(sorted.size() - 1);
    const size_t low = size_t(at);
    const size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (at - double(low));
}

} // namespace

int main() {
    HttpTestServer server;
    if (!server.isListening()) {
        std::fprintf(stderr, "bench_http: no server socket\n");
        return 1;
    }
    QByteArray text;
    for (int line = 0;; ++line) {
        const QByteArray next = "Zeile " + QByteArray::number(line) + ": Grüße aus dem Chat, äöü ÄÖÜ ß.\r\n";
        if (text.size() + next.size() > 50000)
            break;
        text += next;
    }
    text += QByteArray(50000 - text.size(), '.');  // UTF-8, exactly 50 000 bytes
    server.serve("/chat/text.txt", text, "text/plain");
    const QString url = server.url("/chat/text.txt");

    CurlHttpClient client;
    for (int i = 0; i < 5; ++i)
        client.get(url);

    constexpr int kRuns = 100;
    std::vector<double> ms;
    ms.reserve(kRuns);
    int failures = 0;
    qsizetype characters = 0;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const HttpResult r = client.get(url);
        const QString decoded = r.text();
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (!r.ok || r.body.size() != 50000)
            ++failures;
        characters = decoded.size();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("bench_http: %d fetches of a 50000-byte text on 127.0.0.1 (fetch + decode)\n", kRuns);
    std::printf("  median %.3f ms\n", percentile(ms, 0.5));
    std::printf("  min %.3f ms, p10 %.3f ms, p90 %.3f ms, max %.3f ms\n", ms.front(), percentile(ms, 0.1),
                percentile(ms, 0.9), ms.back());
    std::printf("  spread (p90 - p10) %.3f ms\n", percentile(ms, 0.9) - percentile(ms, 0.1));
    std::printf("  decoded characters %lld, failed fetches %d\n", static_cast<long long>(characters), failures);
    lesemund::bench::Table table;
    table.add("HTTP-Abruf 50 000 Bytes über 127.0.0.1", ms, "ms", 0);
    table.print();
    return failures == 0 ? 0 : 1;
}
