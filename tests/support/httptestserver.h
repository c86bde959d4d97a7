#pragma once
// A small HTTP/1.1 server for tests: listens on 127.0.0.1 at a free port,
// answers each connection in a thread of its own (one request per
// connection, "Connection: close"), and records every request it gets.
// Paths are answered by handlers set per path; a path without one gets a
// 404 page. The server stops promptly in its destructor, also while a
// connection is stalled or a huge body is under way.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lesemund::testing {

struct HttpTestRequest {
    QByteArray method;
    QByteArray target;  // as sent: path and query
    QByteArray path;    // the target without its query
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first header of that name (case-insensitive), "" if none.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

struct HttpTestResponse {
    int status = 200;
    QByteArray contentType = "text/plain";  // no header when empty
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;  // further headers
    bool stall = false;         // read the request, then never answer
    qsizetype chunkSize = 0;    // > 0: send the body in pieces of this size
    int chunkPauseMs = 0;       // pause between the pieces
    bool contentLength = true;  // false: the body ends when the connection closes
};

using HttpTestHandler = std::function<HttpTestResponse(const HttpTestRequest &)>;

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    // False when the socket could not be set up (then port() is 0).
    bool isListening() const { return listenFd_ >= 0; }
    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString &path) const;

    // The general form: `path` (without query) is answered by `handler`.
    // Setting a path again replaces its handler, also while serving.
    void handle(const QByteArray &path, HttpTestHandler handler);

    // Shorthands for the common answers.
    void serve(const QByteArray &path, const QByteArray &body,
               const QByteArray &contentType = "text/plain", int status = 200);
    void redirect(const QByteArray &path, const QByteArray &location, int status = 302);
    void stall(const QByteArray &path);
    // `size` bytes of `fill`, sent in 64 KiB pieces.
    void serveHuge(const QByteArray &path, qsizetype size = 10 * 1024 * 1024, char fill = 'x');

    // The body of the 404 page of paths without a handler.
    void setNotFoundBody(const QByteArray &body);

    QList<HttpTestRequest> requests() const;
    QList<HttpTestRequest> requestsFor(const QByteArray &path) const;
    int hitCount(const QByteArray &path) const;

    // A port on 127.0.0.1 where nothing listens (one that was free a moment
    // ago), for tests of a refused connection.
    static quint16 closedPort();

private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void acceptLoop();
    void serveConnection(int fd);
    void reapFinished(bool all);

    int listenFd_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    quint16 port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::map<QByteArray, HttpTestHandler> handlers_;
    QByteArray notFoundBody_ = "<html><body><h1>404 Not Found</h1></body></html>";
    QList<HttpTestRequest> requests_;
    std::vector<Connection> connections_;
};

} // namespace lesemund::testing
