#pragma once
// A small synchronous HTTP(S) client over libcurl: any method, headers, a body from memory or
// streamed from a file, the response body into memory or streamed into a file, progress
// callbacks, redirects followed with the same method. One instance keeps its connection open
// between requests; headers set on the client go with every later request.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace yunshan {

// A transport failure (name not resolved, connection refused or reset, TLS failure, time-out,
// unreadable body file, ...). what() is UTF-8 text for the error box.
class HttpError : public std::runtime_error {
  public:
    explicit HttpError(const std::string &message) : std::runtime_error(message) {}
    explicit HttpError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method = "GET";
    QString url;
    HttpHeaders headers;   // in addition to the client's own
    QByteArray body;       // sent when not empty and no body_file is given
    QString body_file;     // request body streamed from this file
    QString response_file; // response body streamed into this file (truncated first) instead of memory
};

struct HttpResponse {
    int status = 0;
    QByteArray body;      // empty when the body went to a file
    qint64 body_size = 0; // bytes of the final response's body
    QString url;          // address of the final response after redirects
};

enum class TransferDirection { Send, Receive };
// Called while a body moves: the expected length (0 or less when unknown) and the bytes so far.
using HttpProgress = std::function<void(TransferDirection, qint64 total, qint64 done)>;

class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // A header for every later request through this client (replaces one of the same name).
    void set_header(const QByteArray &name, const QByteArray &value);
    const HttpHeaders &headers() const { return headers_; }

    // Time-outs in seconds: connecting, and a stalled send or receive (no byte moving).
    void set_timeouts(int connect_seconds, int stall_seconds);
    // Caps the sending speed in bytes per second (0: no cap).
    void set_send_speed_limit(qint64 bytes_per_second) { send_limit_ = bytes_per_second; }
    // Asked while a request runs (at least about once a second, also while nothing moves); true
    // cancels the request with an HttpError. For requests on a thread that must be able to stop.
    void set_cancel_check(std::function<bool()> check) { cancel_check_ = std::move(check); }

    // Sends the request and waits for the whole answer. Throws HttpError on transport failures;
    // any status the server answers is returned. A redirect (301, 302, 303, 307, 308) is sent
    // again to the new address with the same method, headers and body, at most 10 times;
    // credentials go along only while the host stays the same and the scheme is not downgraded.
    // A call from inside a progress callback of a running request throws HttpError.
    HttpResponse send(const HttpRequest &request, const HttpProgress &progress = {});

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    HttpHeaders headers_;
    int connect_seconds_ = 60;
    int stall_seconds_ = 60;
    qint64 send_limit_ = 0;
    std::function<bool()> cancel_check_;
    bool busy_ = false;
};

} // namespace yunshan
