#pragma once
// A small synchronous HTTP(S) client over libcurl: any method, headers, a body from memory or
// streamed from a file, the response body into memory or streamed into a file, progress
// callbacks. One instance keeps its connections open between requests; headers set on the
// client go with every later request.
//
// Every request has a deadline and gives up when nothing moves for a while; while it runs, the
// cancel checks are asked about every 50 ms, also while the server is silent, so a window
// that lets its events run from them stays responsive and can stop the request.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace yunshan {

// A transport failure. what() is the library's own text (UTF-8); kind() says what happened,
// url() where.
class HttpError : public std::runtime_error {
  public:
    enum class Kind {
        Network,     // connection refused or reset, and other transport failures
        Unresolved,  // the server's name was not found
        Unreachable, // no connection within the connect time
        Interrupted, // the connection broke off in the middle of a request or an answer
        Timeout,     // the request's deadline passed
        Stalled,     // nothing (or next to nothing) moved for the stall time
        Cancelled,   // a cancel check asked to stop
        Certificate, // the server's certificate is not trusted
        PinMismatch, // the server's key is not the one trusted for it
        Tls,         // another failure of the encrypted connection
        BadAddress,  // not a usable http or https address
        LocalFile,   // the body file could not be read or the answer's file written
        TooLarge,    // the answer is larger than an answer kept in memory may be
        Busy,        // another request of the same client is still running
    };
    HttpError(Kind kind, const QString &message, const QString &url = {}, int seconds = 0)
        : std::runtime_error(message.toStdString()), kind_(kind), url_(url), seconds_(seconds)
    {
    }
    Kind kind() const { return kind_; }
    const QString &url() const { return url_; }
    // The limit that ran out (Timeout, Stalled), in seconds.
    int seconds() const { return seconds_; }

  private:
    Kind kind_;
    QString url_;
    int seconds_;
};

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// Gives the header `name` (of any letter case) the value `value`, or adds it when there is none.
void put_header(HttpHeaders &headers, const QByteArray &name, const QByteArray &value);
// `base` with `overlay` over it: an overlay header replaces the value of each base header of its
// name (of any letter case), or is added after them when there is none.
HttpHeaders merge_headers(HttpHeaders base, const HttpHeaders &overlay);

struct HttpRequest {
    QByteArray method = "GET";
    QString url;
    HttpHeaders headers;   // in addition to the client's own
    QByteArray body;       // sent when not empty and no body_file is given
    QString body_file;     // request body streamed from this file
    QString response_file; // response body streamed into this file (truncated first) instead of memory
    // Seconds the whole request may take, redirects included; 0: the client's limit for its kind
    // (a transfer when a body file or a response file is given, else a quick request).
    int deadline_seconds = 0;
    // Asked with the client's own check; true cancels the request with an HttpError.
    std::function<bool()> cancel;
};

struct HttpResponse {
    int status = 0;
    QByteArray body;      // empty when the body went to a file
    qint64 body_size = 0; // bytes of the final response's body
    QString url;          // address of the final response after redirects
    QString redirect;     // where a redirect that was not followed pointed (another origin, or https to http)
};

// Limits of every request, in seconds.
struct HttpLimits {
    int connect_seconds = 15;           // setting up the connection, TLS included
    int stall_seconds = 15;             // less than kStallBytes moved in either direction
    int quick_seconds = 30;             // a whole quick request (PROPFIND, MKCOL, small answers)
    int transfer_seconds = 6 * 60 * 60; // a whole transfer; the stall limit ends a dead one long before
};
// A transfer moving less than this in `stall_seconds` counts as stalled (a server sending a byte
// now and then is not making progress).
inline constexpr qint64 kStallBytes = 1024;

enum class TransferDirection { Send, Receive };
// Called while a body moves: the expected length (0 or less when unknown) and the bytes so far.
using HttpProgress = std::function<void(TransferDirection, qint64 total, qint64 done)>;

// The certificate an https server shows, read without checking it and without sending a request.
struct ServerCertificate {
    QString origin;  // "host:port"
    QByteArray der;  // the server's own certificate
    QString subject; // as the TLS library writes them
    QString issuer;
};

// "host:port" of an https address (port 443 unless given); empty for other addresses.
QString tls_origin(const QString &url);

class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // A header for every later request through this client (replaces one of the same name).
    void set_header(const QByteArray &name, const QByteArray &value);
    const HttpHeaders &headers() const { return headers_; }

    void set_limits(const HttpLimits &limits) { limits_ = limits; }
    const HttpLimits &limits() const { return limits_; }
    // Caps the sending speed in bytes per second (0: no cap).
    void set_send_speed_limit(qint64 bytes_per_second) { send_limit_ = bytes_per_second; }
    // Asked about every 50 ms while any request runs, also while nothing moves; true cancels the
    // request with an HttpError (kind Cancelled).
    void set_cancel_check(std::function<bool()> check) { cancel_check_ = std::move(check); }
    // The key pinned for an https server ("host:port" → "sha256//<base64 of the SHA-256 of its
    // public key>", empty for none). A pinned server is trusted by that key alone, whoever issued
    // its certificate and whatever names it holds; any other key is refused before anything is
    // sent to it.
    void set_pin_lookup(std::function<QByteArray(const QString &origin)> lookup) { pin_lookup_ = std::move(lookup); }
    // Closes the connections kept open (after a change of the pinned keys).
    void close_connections();

    // Sends the request and waits for the whole answer. Throws HttpError on transport failures;
    // any status the server answers is returned. Redirects (301, 302, 303, 307, 308, at most
    // 10): to the same origin (scheme, host and port) the request is sent again to the new
    // address with the same method, headers and body. To another origin only GET and HEAD
    // follow, and without credentials ("Authorization") from there on; for other methods the
    // redirect is the answer, with `redirect` set. A redirect from https to http is never
    // followed. A call from inside a callback of a running request throws HttpError (Busy).
    HttpResponse send(const HttpRequest &request, const HttpProgress &progress = {});

    // Connects to the https server of `url` and reads its certificate, checking nothing and
    // sending no request. Throws HttpError when no TLS connection comes about.
    ServerCertificate fetch_certificate(const QString &url, const std::function<bool()> &cancel = {});

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    HttpHeaders headers_;
    HttpLimits limits_;
    qint64 send_limit_ = 0;
    std::function<bool()> cancel_check_;
    std::function<QByteArray(const QString &)> pin_lookup_;
    bool busy_ = false;
};

} // namespace yunshan
