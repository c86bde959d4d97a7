#pragma once
// The HTTP client on libcurl. Every call uses an easy handle of its own, so
// calls from several threads do not meet; libcurl's global set-up runs once
// per process.
#include "platform/httpclient.h"


namespace lesemund::platform {

class CurlHttpClient : public HttpClient {
public:
    struct Limits {
        int connectTimeoutMs = 5000;  // until the connection stands
        int totalTimeoutMs = 15000;   // the whole request, body included
        int maxRedirects = 5;
    };

    CurlHttpClient();
    explicit CurlHttpClient(Limits limits);

    HttpResult get(const QString &url, qsizetype maxBytes = kTextLimit) override;

    int connectTimeoutMs() const { return limits_.connectTimeoutMs; }
    int totalTimeoutMs() const { return limits_.totalTimeoutMs; }
    int maxRedirects() const { return limits_.maxRedirects; }

    // The address as handed to libcurl: blanks at both ends removed, and
    // blanks and non-ASCII characters after the host percent-encoded as
    // UTF-8, the way a browser sends what was typed into its address bar.
    // Every other character is passed as it stands.
    static QByteArray encodeAddress(const QString &url);

private:
    Limits limits_;
};

} // namespace lesemund::platform
