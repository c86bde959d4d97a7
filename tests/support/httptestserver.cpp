#include "support/httptestserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace lesemund::testing {
namespace {

constexpr qsizetype kMaxHead = 64 * 1024;
constexpr int kReadLimitMs = 10000;

enum class Wait { Ready, Timeout, Stop };

// Waits until `fd` is ready for `events`, the stop pipe is readable or
// `timeoutMs` (-1: no limit) has passed. `fd` < 0 waits for the stop pipe
// and the time alone.
Wait waitFor(int fd, short events, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    for (;;) {
        const int n = ::poll(fds, count, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[0].revents & POLLIN))
            return Wait::Stop;
        if (n == 0)
            return Wait::Timeout;
        return Wait::Ready;
    }
}

bool sendAll(int fd, const char *data, qsizetype size, int stopFd) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A client that stops reading for this long is gone.
            if (waitFor(fd, POLLOUT, stopFd, kReadLimitMs) != Wait::Ready)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

bool parseHead(const QByteArray &head, HttpTestRequest &request) {
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> first = lines[0].trimmed().split(' ');
    if (first.size() < 3)
        return false;
    request.method = first[0];
    request.target = first[1];
    const qsizetype query = request.target.indexOf('?');
    request.path = query < 0 ? request.target : request.target.left(query);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

} // namespace

QByteArray HttpTestRequest::header(const QByteArray &name) const {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

bool HttpTestRequest::hasHeader(const QByteArray &name) const {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

HttpTestServer::HttpTestServer() {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    stopRead_ = pipeFds[0];
    stopWrite_ = pipeFds[1];

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    if (stopWrite_ >= 0) {
        const char byte = 1;
        // The byte stays unread: the pipe is readable for every waiter.
        (void)!::write(stopWrite_, &byte, 1);
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    reapFinished(true);
    if (listenFd_ >= 0)
        ::close(listenFd_);
    if (stopRead_ >= 0)
        ::close(stopRead_);
    if (stopWrite_ >= 0)
        ::close(stopWrite_);
}

QString HttpTestServer::url(const QString &path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_) + path;
}

void HttpTestServer::handle(const QByteArray &path, HttpTestHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

void HttpTestServer::serve(const QByteArray &path, const QByteArray &body,
                           const QByteArray &contentType, int status) {
    handle(path, [body, contentType, status](const HttpTestRequest &) {
        HttpTestResponse r;
        r.status = status;
        r.contentType = contentType;
        r.body = body;
        return r;
    });
}

void HttpTestServer::redirect(const QByteArray &path, const QByteArray &location, int status) {
    handle(path, [location, status](const HttpTestRequest &) {
        HttpTestResponse r;
        r.status = status;
        r.contentType = "text/html";
        r.body = "<html><body>moved</body></html>";
        r.headers.append({"Location", location});
        return r;
    });
}

void HttpTestServer::stall(const QByteArray &path) {
    handle(path, [](const HttpTestRequest &) {
        HttpTestResponse r;
        r.stall = true;
        return r;
    });
}

void HttpTestServer::serveHuge(const QByteArray &path, qsizetype size, char fill) {
    const QByteArray body(size, fill);
    handle(path, [body](const HttpTestRequest &) {
        HttpTestResponse r;
        r.body = body;
        r.chunkSize = 64 * 1024;
        return r;
    });
}

void HttpTestServer::setNotFoundBody(const QByteArray &body) {
    std::lock_guard lock(mutex_);
    notFoundBody_ = body;
}

QList<HttpTestRequest> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

QList<HttpTestRequest> HttpTestServer::requestsFor(const QByteArray &path) const {
    std::lock_guard lock(mutex_);
    QList<HttpTestRequest> out;
    for (const HttpTestRequest &r : requests_) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

int HttpTestServer::hitCount(const QByteArray &path) const { return int(requestsFor(path).size()); }

quint16 HttpTestServer::closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    quint16 port = 1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

void HttpTestServer::reapFinished(bool all) {
    std::vector<Connection> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || it->done->load()) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Connection &c : finished)
        c.thread.join();
}

void HttpTestServer::acceptLoop() {
    for (;;) {
        const Wait w = waitFor(listenFd_, POLLIN, stopRead_, 1000);
        if (w == Wait::Stop)
            return;
        reapFinished(false);
        if (w == Wait::Timeout)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([this, fd, done] {
            serveConnection(fd);
            ::close(fd);
            done->store(true);
        });
        std::lock_guard lock(mutex_);
        connections_.push_back({std::move(thread), done});
    }
}

void HttpTestServer::serveConnection(int fd) {
    // The request: its head, then as many body bytes as Content-Length says.
    const auto started = std::chrono::steady_clock::now();
    auto remainingMs = [&] {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - started).count();
        return int(std::max<long long>(0, kReadLimitMs - spent));
    };
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype wanted = -1;
    char buffer[16 * 1024];
    for (;;) {
        if (headEnd < 0) {
            headEnd = data.indexOf("\r\n\r\n");
            if (headEnd >= 0) {
                HttpTestRequest probe;
                if (!parseHead(data.left(headEnd), probe))
                    return;
                bool okNumber = false;
                const qsizetype length = probe.header("Content-Length").toLongLong(&okNumber);
                wanted = headEnd + 4 + (okNumber && length > 0 ? length : 0);
            } else if (data.size() > kMaxHead) {
                return;
            }
        }
        if (headEnd >= 0 && data.size() >= wanted)
            break;
        if (waitFor(fd, POLLIN, stopRead_, remainingMs()) != Wait::Ready)
            return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return;
        }
        data.append(buffer, n);
    }

    HttpTestRequest request;
    parseHead(data.left(headEnd), request);
    request.body = data.mid(headEnd + 4, wanted - headEnd - 4);

    HttpTestHandler handler;
    QByteArray notFound;
    {
        std::lock_guard lock(mutex_);
        requests_.append(request);
        const auto it = handlers_.find(request.path);
        if (it != handlers_.end())
            handler = it->second;
        notFound = notFoundBody_;
    }
    HttpTestResponse response;
    if (handler) {
        response = handler(request);
    } else {
        response.status = 404;
        response.contentType = "text/html";
        response.body = notFound;
    }

    if (response.stall) {
        // Hold the connection open until the client gives up or the server
        // stops; whatever the client sends meanwhile is read and dropped.
        for (;;) {
            if (waitFor(fd, POLLIN, stopRead_, -1) != Wait::Ready)
                return;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return;
        }
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (response.contentLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (!sendAll(fd, head.constData(), head.size(), stopRead_))
        return;
    if (request.method == "HEAD")
        return;

    const qsizetype piece = response.chunkSize > 0 ? response.chunkSize : response.body.size();
    for (qsizetype at = 0; at < response.body.size(); at += piece) {
        if (at > 0 && response.chunkPauseMs > 0 &&
            waitFor(-1, 0, stopRead_, response.chunkPauseMs) == Wait::Stop)
            return;
        const qsizetype n = std::min(piece, response.body.size() - at);
        if (!sendAll(fd, response.body.constData() + at, n, stopRead_))
            return;
    }
    ::shutdown(fd, SHUT_WR);
}

} // namespace lesemund::testing
