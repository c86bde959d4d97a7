#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for tests: one connection at a time,
// one request each, answered from a table of paths (others get an empty
// 404); it keeps the head of every request. Its clients wait for their
// answer, so a connection ends at the latest when its client gives up.
#include <QByteArray>
#include <QHash>
#include <QString>

#include <netinet/in.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace lesemund::testing {

struct HttpTestResponse {
    int status = 200;  // 0: read the request, then never answer
    QByteArray contentType = "text/plain", body;
    QByteArray location;  // sent as the Location header when set
};

class HttpTestServer {
public:
    HttpTestServer() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&addr), len) == 0 && ::listen(fd_, 16) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~HttpTestServer() {
        ::shutdown(fd_, SHUT_RDWR);  // ends the wait in accept()
        thread_.join();
        ::close(fd_);
    }
    bool isListening() const { return port_ != 0; }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1").arg(port_) + path; }
    void serve(const QByteArray &path, const HttpTestResponse &response) {
        std::lock_guard lock(mutex_);
        routes_[path] = response;
    }
    void serve(const QByteArray &path, const QByteArray &body, const QByteArray &type = "text/plain", int status = 200) {
        serve(path, {status, type, body, {}});
    }
    QList<QByteArray> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void run() {
        for (int c; (c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(c)) {
            QByteArray head;
            char buffer[4096];
            for (ssize_t n = 1; n > 0 && !head.contains("\r\n\r\n"); head.append(buffer, std::max<ssize_t>(n, 0)))
                n = ::recv(c, buffer, sizeof buffer, 0);
            std::unique_lock lock(mutex_);
            requests_.append(head);
            const HttpTestResponse r = routes_.value(head.split(' ').value(1), {404, "text/html", {}, {}});
            lock.unlock();
            const QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nContent-Type: " +
                                   r.contentType + "\r\nContent-Length: " + QByteArray::number(r.body.size()) +
                                   (r.location.isEmpty() ? "" : "\r\nLocation: " + r.location) +
                                   "\r\nConnection: close\r\n\r\n" + r.body;
            while (r.status == 0 && ::recv(c, buffer, sizeof buffer, 0) > 0) {
            }
            for (ssize_t at = 0, n = 0; r.status && at < out.size() && n >= 0; at += n)
                n = ::send(c, out.constData() + at, size_t(out.size() - at), MSG_NOSIGNAL);
        }
    }

    const int fd_;
    quint16 port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    QHash<QByteArray, HttpTestResponse> routes_;
    QList<QByteArray> requests_;
};

} // namespace lesemund::testing
