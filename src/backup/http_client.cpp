#include "backup/http_client.h"

#include <QFile>
#include <QScopeGuard>
#include <QUrl>

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace yunshan {
namespace {

using Clock = std::chrono::steady_clock;
using Kind = HttpError::Kind;

constexpr int kMaxRedirects = 10;
// Bodies kept in memory are small answers (PROPFIND, MKCOL, error pages, the update package);
// large bodies go to files.
constexpr qint64 kMaxMemoryBody = 64 * 1024 * 1024;
constexpr long kBufferSize = 512 * 1024; // receive buffer
// Longest wait for the connection between two looks at the cancel checks and the limits.
constexpr int kPollMs = 50;

void global_init()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString system_error()
{
    return QString::fromLocal8Bit(std::strerror(errno));
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

// What libcurl last said about the bodies of the running request.
struct Counters {
    curl_off_t dltotal = 0, dlnow = 0, ultotal = 0, ulnow = 0;

    static int record(void *user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
    {
        auto *self = static_cast<Counters *>(user);
        self->dltotal = dltotal;
        self->dlnow = dlnow;
        self->ultotal = ultotal;
        self->ulnow = ulnow;
        return 0;
    }
};

// Looks after a running request between the turns of the transfer loop: reports progress, asks
// the cancel checks and ends the request at its deadline or when it stalls. Runs outside of
// libcurl's callbacks, so the callbacks it calls may let events run and throw.
class Watch {
  public:
    Watch(const HttpProgress &progress, std::vector<const std::function<bool()> *> cancels, const HttpLimits &limits,
          int deadline_seconds)
        : progress_(progress), cancels_(std::move(cancels)), deadline_seconds_(deadline_seconds),
          deadline_(Clock::now() + std::chrono::seconds(deadline_seconds)), stall_seconds_(limits.stall_seconds),
          connect_ms_(static_cast<long>(limits.connect_seconds) * 1000)
    {
    }

    // A new request (the first one or after a redirect): progress counts from zero.
    void start(CURL *easy, const QString &url)
    {
        easy_ = easy;
        url_ = url;
        counters = Counters{};
        reported_ = Counters{};
        reported_.ulnow = reported_.dlnow = -1;
        connected_ = false;
        mark_bytes_ = 0;
        mark_time_ = Clock::now();
    }

    // Milliseconds the connection may take: the connect limit, and no longer than the deadline.
    long connect_ms() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return static_cast<long>(std::clamp<long long>(left, 1, connect_ms_));
    }

    void report()
    {
        if (!progress_)
            return;
        if (counters.ulnow != reported_.ulnow || counters.ultotal != reported_.ultotal) {
            reported_.ulnow = counters.ulnow;
            reported_.ultotal = counters.ultotal;
            if (counters.ulnow > 0)
                progress_(TransferDirection::Send, counters.ultotal, counters.ulnow);
        }
        if (counters.dlnow != reported_.dlnow || counters.dltotal != reported_.dltotal) {
            reported_.dlnow = counters.dlnow;
            reported_.dltotal = counters.dltotal;
            if (counters.dlnow > 0)
                progress_(TransferDirection::Receive, counters.dltotal, counters.dlnow);
        }
    }

    // One look between two turns; throws HttpError when the request has to end.
    void step()
    {
        report();
        for (const auto *cancel : cancels_) {
            if (*cancel && (*cancel)())
                throw HttpError(Kind::Cancelled, QStringLiteral("The request to %1 was cancelled").arg(url_), url_);
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline_)
            throw HttpError(Kind::Timeout,
                            QStringLiteral("No complete answer within %1 seconds").arg(deadline_seconds_), url_,
                            deadline_seconds_);
        // Until the connection stands, the connect time-out of libcurl is the limit.
        if (!connected_) {
            curl_off_t pretransfer = 0;
            curl_easy_getinfo(easy_, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
            if (pretransfer <= 0)
                return;
            connected_ = true;
            mark_time_ = now;
        }
        const qint64 moved = static_cast<qint64>(counters.ulnow) + static_cast<qint64>(counters.dlnow);
        if (moved - mark_bytes_ >= kStallBytes) {
            mark_bytes_ = moved;
            mark_time_ = now;
        } else if (now - mark_time_ >= std::chrono::seconds(stall_seconds_)) {
            throw HttpError(
                Kind::Stalled,
                QStringLiteral("Less than %1 bytes moved in %2 seconds").arg(kStallBytes).arg(stall_seconds_), url_,
                stall_seconds_);
        }
    }

    Counters counters; // filled by libcurl's progress callback

  private:
    const HttpProgress &progress_;
    std::vector<const std::function<bool()> *> cancels_;
    int deadline_seconds_;
    Clock::time_point deadline_;
    int stall_seconds_;
    long connect_ms_;
    CURL *easy_ = nullptr;
    QString url_;
    Counters reported_;
    bool connected_ = false;
    qint64 mark_bytes_ = 0;
    Clock::time_point mark_time_;
};

// Runs `easy` on `multi` to its end; the result of the transfer. The watch may end it early by
// throwing; the handle leaves the multi handle in any case.
CURLcode perform(CURLM *multi, CURL *easy, Watch &watch, const QString &url)
{
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Counters::record);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &watch.counters);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, watch.connect_ms());
    if (const CURLMcode mc = curl_multi_add_handle(multi, easy); mc != CURLM_OK)
        throw HttpError(Kind::Network, QString::fromUtf8(curl_multi_strerror(mc)), url);
    const auto remove = qScopeGuard([multi, easy] { curl_multi_remove_handle(multi, easy); });
    for (;;) {
        int running = 0;
        if (const CURLMcode mc = curl_multi_perform(multi, &running); mc != CURLM_OK)
            throw HttpError(Kind::Network, QString::fromUtf8(curl_multi_strerror(mc)), url);
        int left = 0;
        while (CURLMsg *m = curl_multi_info_read(multi, &left)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == easy) {
                watch.report();
                return m->data.result;
            }
        }
        watch.step();
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
}

Kind kind_of(CURLcode rc)
{
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Kind::Unresolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT: // only the connect time-out is libcurl's
        return Kind::Unreachable;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return Kind::Interrupted;
    case CURLE_PEER_FAILED_VERIFICATION:
        return Kind::Certificate;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return Kind::PinMismatch;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return Kind::Tls;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return Kind::BadAddress;
    default:
        return Kind::Network;
    }
}

[[noreturn]] void fail(CURLcode rc, const char *error_text, const QString &url)
{
    throw HttpError(kind_of(rc), QString::fromUtf8(error_text[0] ? error_text : curl_easy_strerror(rc)), url);
}

bool is_https(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool is_web_scheme(const QUrl &url)
{
    return is_https(url) || url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

// Scheme, host and port (the scheme's port when none is given).
bool same_origin(const QUrl &a, const QUrl &b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(is_https(a) ? 443 : 80) == b.port(is_https(b) ? 443 : 80);
}

bool is_redirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What every handle starts with: the address (the caller keeps its bytes until the transfer ends),
// the protocols it may use, where the library writes its error text, and no signals.
void set_address(CURL *easy, const QByteArray &url, const char *protocols, char *error_text)
{
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
}

// A C file that is closed when it goes out of scope.
struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

std::FILE *open_response_file(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw HttpError(Kind::LocalFile, QStringLiteral("Cannot create \"%1\": %2").arg(path, system_error()));
    std::FILE *f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        throw HttpError(Kind::LocalFile, QStringLiteral("Cannot create \"%1\"").arg(path));
    }
    return f;
}

// The PEM block of a certificate ("-----BEGIN CERTIFICATE-----" …) as DER.
QByteArray pem_to_der(const QByteArray &pem)
{
    const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    const QByteArray end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    const qsizetype to = pem.indexOf(end);
    if (from < 0 || to < from)
        return {};
    return QByteArray::fromBase64(pem.mid(from + begin.size(), to - from - begin.size()).simplified());
}

struct MultiHandle {
    CURLM *multi = curl_multi_init();
    ~MultiHandle()
    {
        if (multi)
            curl_multi_cleanup(multi);
    }
};

struct EasyHandle {
    CURL *easy = curl_easy_init();
    ~EasyHandle()
    {
        if (easy)
            curl_easy_cleanup(easy);
    }
};

} // namespace

QString tls_origin(const QString &url)
{
    const QUrl u(url);
    if (!is_https(u) || u.host().isEmpty())
        return {};
    const QString host =
        u.host().contains(QLatin1Char(':')) ? QLatin1Char('[') + u.host() + QLatin1Char(']') : u.host();
    return host.toLower() + QLatin1Char(':') + QString::number(u.port(443));
}

// The easy handle is used on a multi handle of its own: the connections it keeps live there,
// and the client drives the transfer in its own loop.
struct HttpClient::Handle {
    MultiHandle multi;
    EasyHandle easy;
};

void put_header(HttpHeaders &headers, const QByteArray &name, const QByteArray &value)
{
    for (auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers.append({name, value});
}

HttpHeaders merge_headers(HttpHeaders base, const HttpHeaders &overlay)
{
    for (const auto &h : overlay) {
        bool replaced = false;
        for (auto &own : base) {
            if (own.first.compare(h.first, Qt::CaseInsensitive) == 0) {
                own.second = h.second;
                replaced = true;
            }
        }
        if (!replaced)
            base.append(h);
    }
    return base;
}

HttpClient::HttpClient()
{
    global_init();
    handle_ = std::make_unique<Handle>();
    if (!handle_->easy.easy || !handle_->multi.multi)
        throw HttpError(Kind::Network, QStringLiteral("Cannot start the HTTP client"));
}

HttpClient::~HttpClient() = default;

void HttpClient::set_header(const QByteArray &name, const QByteArray &value)
{
    put_header(headers_, name, value);
}

void HttpClient::close_connections()
{
    if (busy_)
        return;
    handle_ = std::make_unique<Handle>();
    if (!handle_->easy.easy || !handle_->multi.multi)
        throw HttpError(Kind::Network, QStringLiteral("Cannot start the HTTP client"));
}

HttpResponse HttpClient::send(const HttpRequest &request, const HttpProgress &progress)
{
    // Callbacks may let other commands run; they must not reuse this connection meanwhile.
    if (busy_)
        throw HttpError(Kind::Busy, QStringLiteral("Another transfer is still running"), request.url);
    busy_ = true;
    const auto not_busy = qScopeGuard([this] { busy_ = false; });
    CURL *easy = handle_->easy.easy;
    HttpResponse response;
    const QUrl first_url(request.url);
    QString url = request.url;
    bool send_credentials = true;
    const QByteArray method = request.method.isEmpty() ? QByteArray("GET") : request.method;
    const bool transfer = !request.body_file.isEmpty() || !request.response_file.isEmpty();
    const int deadline = request.deadline_seconds > 0 ? request.deadline_seconds
                         : transfer                   ? limits_.transfer_seconds
                                                      : limits_.quick_seconds;
    Watch watch(progress, {&cancel_check_, &request.cancel}, limits_, deadline);

    for (int redirects = 0;; ++redirects) {
        curl_easy_reset(easy);
        char error_text[CURL_ERROR_SIZE] = {};
        const QByteArray url_bytes = url.toUtf8();
        set_address(easy, url_bytes, "http,https", error_text);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "YunShanNote/" YUNSHAN_VERSION);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
        curl_easy_setopt(easy, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(send_limit_));
        // The upload keeps libcurl's own buffer size: larger ones measured slower against httpd.

        // A server whose key the user has trusted is checked by that key alone.
        const QString origin = tls_origin(url);
        const QByteArray pin = !origin.isEmpty() && pin_lookup_ ? pin_lookup_(origin) : QByteArray();
        if (!pin.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, pin.constData());
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        }

        if (method == "GET")
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        else if (method == "HEAD")
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        else
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());

        // Headers: the client's, then the request's (a request header replaces a client one).
        struct curl_slist *header_list = nullptr;
        const auto free_headers = qScopeGuard([&header_list] { curl_slist_free_all(header_list); });
        for (const auto &h : merge_headers(headers_, request.headers)) {
            if (!send_credentials && h.first.compare("Authorization", Qt::CaseInsensitive) == 0)
                continue;
            const QByteArray line = h.first + ": " + h.second;
            header_list = curl_slist_append(header_list, line.constData());
        }
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, header_list);

        // The body.
        BodySource source;
        OwnedFile body_file;
        if (!request.body_file.isEmpty()) {
            body_file.reset(std::fopen(QFile::encodeName(request.body_file).constData(), "rb"));
            if (!body_file)
                throw HttpError(Kind::LocalFile,
                                QStringLiteral("Cannot open \"%1\": %2").arg(request.body_file, system_error()));
            source.file = body_file.get();
            std::fseek(source.file, 0, SEEK_END);
            const curl_off_t size = std::ftell(source.file);
            std::fseek(source.file, 0, SEEK_SET);
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
        OwnedFile out_file;
        if (!request.response_file.isEmpty()) {
            out_file.reset(open_response_file(request.response_file));
            sink.file = out_file.get();
        } else {
            sink.memory = &response.body;
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &BodySink::write);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);

        watch.start(easy, url);
        const CURLcode rc = perform(handle_->multi.multi, easy, watch, url);
        if (out_file) {
            const bool flushed = std::fclose(out_file.release()) == 0;
            if (!flushed)
                sink.write_failed = true;
        }
        if (sink.too_large)
            throw HttpError(Kind::TooLarge, QStringLiteral("The server's answer from %1 is too large").arg(url), url);
        if (sink.write_failed)
            throw HttpError(Kind::LocalFile,
                            QStringLiteral("Cannot write \"%1\": %2").arg(request.response_file, system_error()), url);
        if (source.read_failed)
            throw HttpError(Kind::LocalFile, QStringLiteral("Cannot read \"%1\"").arg(request.body_file), url);
        if (rc != CURLE_OK)
            fail(rc, error_text, url);

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
        response.body_size = sink.size;
        response.url = url;

        char *location = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
        if (!is_redirect(response.status) || !location || !*location)
            return response;
        // The address as the server sent it (libcurl made it absolute); QUrl only compares.
        const QString next_text = QString::fromUtf8(location);
        const QUrl here(url);
        const QUrl next(next_text);
        const bool elsewhere = !same_origin(here, next);
        const bool downgrade = is_https(here) && !is_https(next);
        // Another server gets neither the body of a request that writes nor the credentials.
        const bool may_follow = method == "GET" || method == "HEAD" || !elsewhere;
        if (!is_web_scheme(next) || downgrade || !may_follow || redirects >= kMaxRedirects) {
            response.redirect = next_text;
            return response;
        }
        send_credentials = send_credentials && same_origin(first_url, next);
        url = next_text;
    }
}

ServerCertificate HttpClient::fetch_certificate(const QString &url, const std::function<bool()> &cancel)
{
    if (busy_)
        throw HttpError(Kind::Busy, QStringLiteral("Another transfer is still running"), url);
    busy_ = true;
    const auto not_busy = qScopeGuard([this] { busy_ = false; });
    ServerCertificate certificate;
    certificate.origin = tls_origin(url);
    if (certificate.origin.isEmpty())
        throw HttpError(Kind::BadAddress, QStringLiteral("\"%1\" is not an https address").arg(url), url);

    // Handles of their own: the unchecked connection must never serve a request.
    MultiHandle multi;
    EasyHandle probe;
    if (!multi.multi || !probe.easy)
        throw HttpError(Kind::Network, QStringLiteral("Cannot start the HTTP client"), url);
    CURL *easy = probe.easy;
    char error_text[CURL_ERROR_SIZE] = {};
    const QByteArray url_bytes = url.toUtf8();
    set_address(easy, url_bytes, "https", error_text);
    curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_CERTINFO, 1L);
    const HttpProgress none;
    Watch watch(none, {&cancel_check_, &cancel}, limits_, limits_.quick_seconds);
    watch.start(easy, url);
    const CURLcode rc = perform(multi.multi, easy, watch, url);
    if (rc != CURLE_OK)
        fail(rc, error_text, url);

    struct curl_certinfo *chain = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CERTINFO, &chain);
    if (chain && chain->num_of_certs > 0) {
        for (curl_slist *field = chain->certinfo[0]; field; field = field->next) {
            const QByteArray line(field->data);
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon);
            const QByteArray value = line.mid(colon + 1);
            if (name == "Subject")
                certificate.subject = QString::fromUtf8(value).trimmed();
            else if (name == "Issuer")
                certificate.issuer = QString::fromUtf8(value).trimmed();
            else if (name == "Cert")
                certificate.der = pem_to_der(value);
        }
    }
    if (certificate.der.isEmpty())
        throw HttpError(Kind::Tls, QStringLiteral("The server %1 showed no certificate").arg(certificate.origin), url);
    return certificate;
}

} // namespace yunshan
