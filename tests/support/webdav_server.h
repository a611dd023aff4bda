#pragma once
// Real servers on 127.0.0.1 for the WebDAV tests: an Apache httpd with mod_dav and Basic
// authentication on a free port with its own configuration (over https with a certificate of
// its own making when asked), a server that drops the connection in the middle of an upload,
// and one that stops talking.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

namespace yunshan::test {

class ApacheDav {
  public:
    struct Options {
        // https with a self-signed certificate for "yunshan-test-nas", made by `openssl req`.
        bool tls = false;
        // More configuration lines; "%PORT%" stands for the server's port.
        QString extra_config;
    };
    // Starts httpd with a share at /dav/ for one user; check started() (error() tells why not).
    ApacheDav(const QString &user, const QString &password) : ApacheDav(user, password, Options()) {}
    ApacheDav(const QString &user, const QString &password, const Options &options);
    ~ApacheDav();
    ApacheDav(const ApacheDav &) = delete;
    ApacheDav &operator=(const ApacheDav &) = delete;

    static bool installed();
    bool started() const { return started_; }
    QString error() const { return error_; }
    // "http://127.0.0.1:<port>/dav/" ("https://…" with tls)
    QString url() const;
    // "http(s)://127.0.0.1:<port>"
    QString origin() const;
    // The server's certificate (PEM) with tls.
    QString certificate_file() const { return root_.path() + QStringLiteral("/cert.pem"); }
    int port() const { return port_; }
    // Folder served at /dav/.
    QString share() const { return root_.path() + QStringLiteral("/share"); }
    // Request lines logged so far: "<method> <path> <status> Depth=<depth>".
    QStringList requests() const;

  private:
    QTemporaryDir root_;
    QProcess httpd_;
    int port_ = 0;
    bool tls_ = false;
    bool started_ = false;
    QString error_;
};

// Takes every request and then lets it hang: `Trickle` sends a long answer a byte at a time
// every `interval_ms`; `Silent` reads the request and never answers; `StopSending` sends the
// head and the first 4 KiB of a 100 MB answer, then nothing; `StopReceiving` reads the head of
// a request and nothing of its body. Connections stay open until the server goes.
class StallingServer {
  public:
    enum class Mode { Trickle, Silent, StopSending, StopReceiving };
    explicit StallingServer(Mode mode, int interval_ms = 400);
    ~StallingServer();
    StallingServer(const StallingServer &) = delete;
    StallingServer &operator=(const StallingServer &) = delete;
    QString url() const; // "http://127.0.0.1:<port>/dav/"
    // Request heads read so far (not counted in StopReceiving mode).
    int requests() const { return requests_; }

  private:
    void serve();
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> requests_{0};
    Mode mode_;
    int interval_ms_;
    std::atomic<bool> stop_{false};
    std::vector<int> held_;
    std::thread thread_;
};

// Answers every request but PUT with an empty 207 (404 for the package: there is none yet); a
// PUT is cut off after `drop_after` bytes of its body by closing the connection.
class DroppingServer {
  public:
    explicit DroppingServer(long long drop_after = 64 * 1024);
    ~DroppingServer();
    QString url() const; // "http://127.0.0.1:<port>/dav/"

  private:
    void serve();
    int listener_ = -1;
    int port_ = 0;
    long long drop_after_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (for "connection refused").
int closed_port();

} // namespace yunshan::test
