#include "platform/curlhttpclient.h"

#include <curl/curl.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace lesemund::platform {
namespace {

constexpr const char *kUserAgent = "Klarbit-5H";

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    QByteArray body;
    qsizetype limit = 0;
    bool truncated = false;
    std::chrono::steady_clock::time_point deadline;
};

size_t writeBody(char *data, size_t size, size_t count, void *user) {
    auto *t = static_cast<Transfer *>(user);
    const size_t length = size * count;
    const qsizetype room = t->limit - t->body.size();
    if (qsizetype(length) <= room) {
        t->body.append(data, qsizetype(length));
        return length;
    }
    // The limit is reached: keep what fits and end the transfer. Returning
    // fewer bytes than handed over makes libcurl stop with a write error,
    // which get() recognises by `truncated`.
    t->body.append(data, room);
    t->truncated = true;
    return 0;
}

// Called by libcurl at least once a second while a transfer runs; a
// non-zero result ends the transfer. Besides libcurl's own time limits this
// ends, as a last guard, a transfer that outlived the whole-request limit.
int progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *t = static_cast<Transfer *>(user);
    return std::chrono::steady_clock::now() > t->deadline ? 1 : 0;
}

struct EasyDeleter {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
struct UrlDeleter {
    void operator()(CURLU *h) const { curl_url_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};

// A file:// address is read only when it names a regular file: opening a
// named pipe or a device would block in the open call itself, where no time
// limit reaches, or never end.
bool fileTargetReadable(CURLU *url) {
    char *path = nullptr;
    if (curl_url_get(url, CURLUPART_PATH, &path, CURLU_URLDECODE) != CURLUE_OK || !path)
        return false;
    struct stat st {};
    const bool regular = ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
    curl_free(path);
    return regular;
}

bool isFileScheme(CURLU *url) {
    char *scheme = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK || !scheme)
        return false;
    const bool file = QByteArray(scheme).toLower() == "file";
    curl_free(scheme);
    return file;
}

} // namespace

CurlHttpClient::CurlHttpClient() : CurlHttpClient(Limits{}) {}

CurlHttpClient::CurlHttpClient(Limits limits) : limits_(limits) { initCurlOnce(); }


QByteArray CurlHttpClient::encodeAddress(const QString &url) {
    const QByteArray raw = url.trimmed().toUtf8();
    // Only the part after the host is encoded: a host with umlauts is left
    // to libcurl's international domain name support.
    qsizetype from = 0;
    const qsizetype schemeEnd = raw.indexOf("://");
    if (schemeEnd >= 0)
        from = schemeEnd + 3;
    qsizetype pathStart = raw.size();
    for (qsizetype i = from; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '/' || c == '?' || c == '#') {
            pathStart = i;
            break;
        }
    }
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out = raw.left(pathStart);
    out.reserve(raw.size() + 16);
    for (qsizetype i = pathStart; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == ' ' || c >= 0x80) {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0x0F]);
        } else {
            out.append(char(c));
        }
    }
    return out;
}

HttpResult CurlHttpClient::get(const QString &url, qsizetype maxBytes) {
    HttpResult result;
    if (maxBytes < 1)
        return result;
    const QByteArray address = encodeAddress(url);
    // libcurl reads the address up to its first zero byte; an address
    // holding one would be fetched shortened.
    if (address.isEmpty() || address.contains('\0'))
        return result;

    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed)
        return result;
    // The same parse libcurl applies to an address given as text: a missing
    // scheme is guessed from the host name, as on the command line.
    if (curl_url_set(parsed.get(), CURLUPART_URL, address.constData(),
                     CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return result;
    if (isFileScheme(parsed.get()) && !fileTargetReadable(parsed.get()))
        return result;

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return result;
    curl_slist *list = nullptr;
    for (const char *line : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
        curl_slist *next = curl_slist_append(list, line);
        if (!next) {
            curl_slist_free_all(list);
            return result;
        }
        list = next;
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(list);

    Transfer transfer;
    transfer.limit = std::min(maxBytes, kDocumentLimit);
    transfer.body.reserve(std::min<qsizetype>(transfer.limit, 64 * 1024));
    // libcurl's own limit ends the transfer first; the progress guard only
    // acts should it not.
    transfer.deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(limits_.totalTimeoutMs + 1000);

    CURL *h = easy.get();
    curl_easy_setopt(h, CURLOPT_CURLU, parsed.get());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // A server's redirect may lead to another web address, never to a
    // local file.
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, long(limits_.maxRedirects));
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits_.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits_.totalTimeoutMs));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(h);
    const bool cutAtLimit = code == CURLE_WRITE_ERROR && transfer.truncated;
    if (code != CURLE_OK && !cutAtLimit)
        return result;

    result.ok = true;
    result.body = std::move(transfer.body);
    result.truncated = transfer.truncated;
    char *type = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        result.contentType = QByteArray(type);
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        result.status = int(status);
    return result;
}

} // namespace lesemund::platform
