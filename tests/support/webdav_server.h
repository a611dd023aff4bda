#pragma once
// Real servers on 127.0.0.1 for the WebDAV tests: an Apache httpd with mod_dav and Basic
// authentication on a free port with its own configuration, and a server that drops the
// connection in the middle of an upload.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace yunshan::test {

class ApacheDav {
  public:
    // Starts httpd with a share at /dav/ for one user; check started() (error() tells why not).
    ApacheDav(const QString &user, const QString &password);
    ~ApacheDav();
    ApacheDav(const ApacheDav &) = delete;
    ApacheDav &operator=(const ApacheDav &) = delete;

    static bool installed();
    bool started() const { return started_; }
    QString error() const { return error_; }
    // "http://127.0.0.1:<port>/dav/"
    QString url() const;
    int port() const { return port_; }
    // Folder served at /dav/.
    QString share() const { return root_.path() + QStringLiteral("/share"); }
    // Request lines logged so far: "<method> <path> <status> Depth=<depth>".
    QStringList requests() const;

  private:
    QTemporaryDir root_;
    QProcess httpd_;
    int port_ = 0;
    bool started_ = false;
    QString error_;
};

// Answers every request but PUT with an empty 207; a PUT is cut off after `drop_after` bytes of
// its body by closing the connection.
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
