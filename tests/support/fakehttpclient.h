#pragma once
// An HTTP client for the window tests: answers from a table of addresses
// (others fail), cuts at the caller's limit as the real client does, and
// records every address asked for.
#include "platform/httpclient.h"

#include <QHash>
#include <QStringList>

namespace lesemund::testing {

class FakeHttpClient : public platform::HttpClient {
public:
    void setResponse(const QString &url, const QByteArray &body, const QByteArray &contentType = "text/plain") {
        responses_.insert(url, {true, body, contentType, 200});
    }
    platform::HttpResult get(const QString &url, qsizetype maxBytes = kTextLimit) override {
        requests.append(url);
        platform::HttpResult r = responses_.value(url);
        r.truncated = r.body.size() > maxBytes;
        r.body.truncate(maxBytes);
        return r;
    }

    QStringList requests;

private:
    QHash<QString, platform::HttpResult> responses_;
};

} // namespace lesemund::testing
