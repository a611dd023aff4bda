#include "backup/http_client.h"

#include <QFile>
#include <QScopeGuard>
#include <QUrl>

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace yunshan {
namespace {

constexpr int kMaxRedirects = 10;
// Bodies kept in memory are small answers (PROPFIND, MKCOL, error pages); large bodies go to files.
constexpr qint64 kMaxMemoryBody = 64 * 1024 * 1024;
constexpr long kBufferSize = 512 * 1024; // receive buffer

void global_init()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The request body: from memory or from an open file.
struct BodySource {
    const QByteArray *memory = nullptr;
    qint64 memory_pos = 0;
    std::FILE *file = nullptr;
    bool read_failed = false;

    static size_t read(char *buffer, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<BodySource *>(user);
        const size_t wanted = size * count;
        if (self->file) {
            const size_t n = std::fread(buffer, 1, wanted, self->file);
            if (n < wanted && std::ferror(self->file)) {
                self->read_failed = true;
                return CURL_READFUNC_ABORT;
            }
            return n;
        }
        const qint64 left = self->memory->size() - self->memory_pos;
        const size_t n = static_cast<size_t>(std::min<qint64>(left, static_cast<qint64>(wanted)));
        std::memcpy(buffer, self->memory->constData() + self->memory_pos, n);
        self->memory_pos += static_cast<qint64>(n);
        return n;
    }
};

// The response body: into memory or into a file.
struct BodySink {
    QByteArray *memory = nullptr;
    std::FILE *file = nullptr;
    qint64 size = 0;
    bool too_large = false;
    bool write_failed = false;

    static size_t write(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<BodySink *>(user);
        const size_t n = size * count;
        if (self->file) {
            if (std::fwrite(data, 1, n, self->file) != n) {
                self->write_failed = true;
                return 0;
            }
        } else {
            if (self->size + static_cast<qint64>(n) > kMaxMemoryBody) {
                self->too_large = true;
                return 0;
            }
            self->memory->append(data, static_cast<qsizetype>(n));
        }
        self->size += static_cast<qint64>(n);
        return n;
    }
};

struct ProgressState {
    const HttpProgress *callback = nullptr;
    const std::function<bool()> *cancel = nullptr;
    bool cancelled = false;
    curl_off_t last[4] = {-1, -1, -1, -1};

    static int report(void *user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
    {
        auto *self = static_cast<ProgressState *>(user);
        if (self->cancel && *self->cancel && (*self->cancel)()) {
            self->cancelled = true;
            return 1;
        }
        if (!self->callback || !*self->callback)
            return 0;
        if (ulnow != self->last[3] || ultotal != self->last[2]) {
            self->last[2] = ultotal;
            self->last[3] = ulnow;
            if (ulnow > 0)
                (*self->callback)(TransferDirection::Send, ultotal, ulnow);
        }
        if (dlnow != self->last[1] || dltotal != self->last[0]) {
            self->last[0] = dltotal;
            self->last[1] = dlnow;
            if (dlnow > 0)
                (*self->callback)(TransferDirection::Receive, dltotal, dlnow);
        }
        return 0; // the progress callback never cancels a transfer
    }
};

bool same_origin_for_credentials(const QUrl &from, const QUrl &to)
{
    if (from.host().compare(to.host(), Qt::CaseInsensitive) != 0)
        return false;
    const bool from_https = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const bool to_https = to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    return to_https || !from_https;
}

bool is_redirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::FILE *open_response_file(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw HttpError(
            QStringLiteral("Cannot create \"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    std::FILE *f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        throw HttpError(QStringLiteral("Cannot create \"%1\"").arg(path));
    }
    return f;
}

} // namespace

struct HttpClient::Handle {
    CURL *easy = nullptr;
    ~Handle()
    {
        if (easy)
            curl_easy_cleanup(easy);
    }
};

HttpClient::HttpClient() : handle_(std::make_unique<Handle>())
{
    global_init();
    handle_->easy = curl_easy_init();
    if (!handle_->easy)
        throw HttpError(std::string("Cannot start the HTTP client"));
}

HttpClient::~HttpClient() = default;

void HttpClient::set_header(const QByteArray &name, const QByteArray &value)
{
    for (auto &h : headers_) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers_.append({name, value});
}

void HttpClient::set_timeouts(int connect_seconds, int stall_seconds)
{
    connect_seconds_ = connect_seconds;
    stall_seconds_ = stall_seconds;
}

HttpResponse HttpClient::send(const HttpRequest &request, const HttpProgress &progress)
{
    // Progress callbacks may let other commands run; they must not reuse this connection meanwhile.
    if (busy_)
        throw HttpError(QStringLiteral("Another transfer is still running"));
    busy_ = true;
    const auto not_busy = qScopeGuard([this] { busy_ = false; });
    CURL *easy = handle_->easy;
    HttpResponse response;
    QUrl first_url(request.url);
    QString url = request.url;
    bool send_credentials = true;

    for (int redirects = 0;; ++redirects) {
        curl_easy_reset(easy);
        char error_text[CURL_ERROR_SIZE] = {};
        const QByteArray url_bytes = url.toUtf8();
        curl_easy_setopt(easy, CURLOPT_URL, url_bytes.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "YunShanNote/" YUNSHAN_VERSION);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connect_seconds_));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall_seconds_));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
        curl_easy_setopt(easy, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(send_limit_));
        // The upload keeps libcurl's own buffer size: larger ones measured slower against httpd.

        const QByteArray method = request.method.isEmpty() ? QByteArray("GET") : request.method;
        if (method == "GET")
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        else if (method == "HEAD")
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        else
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());

        // Headers: the client's, then the request's (a request header replaces a client one).
        struct curl_slist *header_list = nullptr;
        const auto free_headers = qScopeGuard([&header_list] { curl_slist_free_all(header_list); });
        HttpHeaders all = headers_;
        for (const auto &h : request.headers) {
            bool replaced = false;
            for (auto &c : all) {
                if (c.first.compare(h.first, Qt::CaseInsensitive) == 0) {
                    c.second = h.second;
                    replaced = true;
                }
            }
            if (!replaced)
                all.append(h);
        }
        for (const auto &h : all) {
            if (!send_credentials && h.first.compare("Authorization", Qt::CaseInsensitive) == 0)
                continue;
            const QByteArray line = h.first + ": " + h.second;
            header_list = curl_slist_append(header_list, line.constData());
        }
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, header_list);

        // The body.
        BodySource source;
        std::FILE *body_file = nullptr;
        const auto close_body = qScopeGuard([&body_file] {
            if (body_file)
                std::fclose(body_file);
        });
        if (!request.body_file.isEmpty()) {
            body_file = std::fopen(QFile::encodeName(request.body_file).constData(), "rb");
            if (!body_file)
                throw HttpError(QStringLiteral("Cannot open \"%1\": %2")
                                    .arg(request.body_file, QString::fromLocal8Bit(std::strerror(errno))));
            source.file = body_file;
            std::fseek(body_file, 0, SEEK_END);
            const curl_off_t size = std::ftell(body_file);
            std::fseek(body_file, 0, SEEK_SET);
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, size);
        } else if (!request.body.isEmpty()) {
            source.memory = &request.body;
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
        if (source.file || source.memory) {
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &BodySource::read);
            curl_easy_setopt(easy, CURLOPT_READDATA, &source);
        }

        // The answer.
        response.body.clear();
        BodySink sink;
        std::FILE *out_file = nullptr;
        const auto close_out = qScopeGuard([&out_file] {
            if (out_file)
                std::fclose(out_file);
        });
        if (!request.response_file.isEmpty()) {
            out_file = open_response_file(request.response_file);
            sink.file = out_file;
        } else {
            sink.memory = &response.body;
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &BodySink::write);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);

        ProgressState state;
        state.callback = &progress;
        state.cancel = &cancel_check_;
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &ProgressState::report);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &state);

        const CURLcode rc = curl_easy_perform(easy);
        if (out_file) {
            const bool flushed = std::fclose(out_file) == 0;
            out_file = nullptr;
            if (!flushed)
                sink.write_failed = true;
        }
        if (sink.too_large)
            throw HttpError(QStringLiteral("The server's answer from %1 is too large").arg(url));
        if (sink.write_failed)
            throw HttpError(QStringLiteral("Cannot write \"%1\": %2")
                                .arg(request.response_file, QString::fromLocal8Bit(std::strerror(errno))));
        if (source.read_failed)
            throw HttpError(QStringLiteral("Cannot read \"%1\"").arg(request.body_file));
        if (state.cancelled)
            throw HttpError(QStringLiteral("The request to %1 was cancelled").arg(url));
        if (rc != CURLE_OK) {
            const QString detail = QString::fromUtf8(error_text[0] ? error_text : curl_easy_strerror(rc));
            throw HttpError(detail);
        }

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
        response.body_size = sink.size;
        response.url = url;

        char *location = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
        if (is_redirect(response.status) && location && *location && redirects < kMaxRedirects) {
            const QString next = QString::fromUtf8(location);
            const QUrl next_url(next);
            if (next_url.scheme() != QLatin1String("http") && next_url.scheme() != QLatin1String("https"))
                return response;
            send_credentials = send_credentials && same_origin_for_credentials(first_url, next_url);
            url = next;
            continue;
        }
        return response;
    }
}

} // namespace yunshan
