#pragma once
// The HTTP client of the internet readers: one plain GET of an address,
// answered by at most `maxBytes` bytes of the body. The text fetcher, the
// address watcher, the chat reader and the singing example read texts of up
// to 50 000 bytes with it; the word processor downloads documents of up to
// 20 MB before reading them.
//
// What every implementation does:
// - the user agent "Klarbit-5H", no proxy, no cache: the request carries
//   "Cache-Control: no-cache" and "Pragma: no-cache";
// - redirects are followed, at most five of them, and only to "http://"
//   and "https://" addresses (a server never makes the program read a
//   local file);
// - the body is read until `maxBytes` bytes or its end, whichever comes
//   first (not one arbitrary piece of it);
// - an HTTP error status is not told apart: the error page's body is the
//   result like any other body;
// - "http://", "https://" and "file://" addresses are read; any other
//   scheme, an empty address or one the client cannot parse gives a failed
//   result with no bytes; a "file://" address that names no regular file
//   (a folder, a named pipe, a device) fails the same way;
// - a dead or slow server never holds the caller longer than the connect
//   limit (5 s) and the whole-request limit (15 s).
#include <QByteArray>
#include <QString>

namespace lesemund::platform {

struct HttpResult {
    // True when a response arrived and its body was read to its end or to
    // the byte limit. False for any failure; `body` is then empty.
    bool ok = false;
    // The body's first bytes, at most the limit asked for.
    QByteArray body;
    // The Content-Type header of the final response as sent ("" if none).
    QByteArray contentType;
    // The final response's status code (0 for file:// and for failures).
    int status = 0;
    // True when the body went on beyond the limit and was cut there.
    bool truncated = false;

    // The body as text: UTF-8 when the body is valid UTF-8 or the content
    // type names charset utf-8, Windows-1252 otherwise. A body cut at the
    // limit in the middle of a UTF-8 character loses that partial character
    // instead of turning the whole text into Windows-1252.
    QString text() const;
};

// Decoding of a body as HttpResult::text() does it.
QString decodeHttpBody(const QByteArray &body, const QByteArray &contentType, bool truncated);

// True when the Content-Type value names the charset UTF-8 ("utf-8" or
// "utf8", in any case, quoted or not).
bool contentTypeSaysUtf8(const QByteArray &contentType);

class HttpClient {
public:
    static constexpr qsizetype kTextLimit = 50000;              // bytes of a text
    static constexpr qsizetype kDocumentLimit = 20 * 1024 * 1024; // bytes of a document

    virtual ~HttpClient() = default;

    // Fetches `url` and returns at most `maxBytes` bytes of its body (a
    // `maxBytes` below 1 reads nothing and fails; one above kDocumentLimit
    // is taken as kDocumentLimit). Blocks the calling thread
    // until the transfer ends, fails or reaches the time limits. Safe to call
    // from several threads at once.
    virtual HttpResult get(const QString &url, qsizetype maxBytes = kTextLimit) = 0;
};

} // namespace lesemund::platform
