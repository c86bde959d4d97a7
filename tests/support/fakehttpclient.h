#pragma once
// An HTTP client for tests of the internet readers: answers from a table of
// addresses instead of the network and records every request.
#include "platform/httpclient.h"

#include <QHash>
#include <QList>
#include <functional>
#include <mutex>

namespace lesemund::testing {

class FakeHttpClient : public platform::HttpClient {
public:
    struct Request {
        QString url;
        qsizetype maxBytes = 0;
    };

    // The address answers with `body` (cut to the caller's limit, with
    // `truncated` set, as the real client does).
    void setResponse(const QString &url, const QByteArray &body,
                     const QByteArray &contentType = "text/plain", int status = 200) {
        std::lock_guard lock(mutex_);
        platform::HttpResult r;
        r.ok = true;
        r.body = body;
        r.contentType = contentType;
        r.status = status;
        responses_.insert(url, r);
    }

    // The address fails (no connection, refused address): no bytes.
    void setFailure(const QString &url) {
        std::lock_guard lock(mutex_);
        responses_.insert(url, platform::HttpResult{});
    }

    // An address with no entry fails unless a default answer is set.
    void setDefault(const platform::HttpResult &result) {
        std::lock_guard lock(mutex_);
        default_ = result;
    }

    // Runs inside get(), after the request is recorded, before it answers;
    // lets a test see what happens while a fetch is under way.
    std::function<void(const QString &url)> onGet;

    platform::HttpResult get(const QString &url, qsizetype maxBytes = kTextLimit) override {
        platform::HttpResult r;
        {
            std::lock_guard lock(mutex_);
            requests_.append({url, maxBytes});
            r = responses_.value(url, default_);
        }
        if (onGet)
            onGet(url);
        if (maxBytes < 1 || !r.ok)
            return platform::HttpResult{};
        if (r.body.size() > maxBytes) {
            r.body.truncate(maxBytes);
            r.truncated = true;
        }
        return r;
    }

    QList<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    int requestCount(const QString &url) const {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const Request &r : requests_)
            n += r.url == url ? 1 : 0;
        return n;
    }

    void clearRequests() {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }

private:
    mutable std::mutex mutex_;
    QHash<QString, platform::HttpResult> responses_;
    platform::HttpResult default_;
    QList<Request> requests_;
};

} // namespace lesemund::testing
