#include "support/webdav_server.h"

#include "support/loopback_socket.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

namespace yunshan::test {
namespace {

constexpr const char *kHttpd = "/usr/sbin/apache2";
constexpr const char *kModules = "/usr/lib/apache2/modules";

int free_port()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool port_answers(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

void write_file(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace

bool ApacheDav::installed()
{
    return QFile::exists(QString::fromLatin1(kHttpd));
}

ApacheDav::ApacheDav(const QString &user, const QString &password, const Options &options) : tls_(options.tls)
{
    if (!installed()) {
        error_ = QStringLiteral("apache2 is not installed");
        return;
    }
    const QString dir = root_.path();
    QDir().mkpath(share());
    QDir().mkpath(dir + QStringLiteral("/lock"));

    // Running as root, the workers run as www-data: they must reach the share and the lock folder.
    const bool root = ::geteuid() == 0;
    QString run_as;
    if (root) {
        const passwd *pw = ::getpwnam("www-data");
        const group *gr = ::getgrnam("www-data");
        if (!pw || !gr) {
            error_ = QStringLiteral("no www-data user");
            return;
        }
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ExeGroup | QFileDevice::ExeOther);
        for (const QString &d : {share(), dir + QStringLiteral("/lock")})
            ::chown(QFile::encodeName(d).constData(), pw->pw_uid, gr->gr_gid);
        run_as = QStringLiteral("User www-data\nGroup www-data\n");
    }

    QProcess htpasswd;
    htpasswd.start(QStringLiteral("htpasswd"),
                   {QStringLiteral("-bc"), dir + QStringLiteral("/htpasswd"), user, password});
    if (!htpasswd.waitForFinished(10000) || htpasswd.exitCode() != 0) {
        error_ = QStringLiteral("htpasswd failed: ") + QString::fromLocal8Bit(htpasswd.readAllStandardError());
        return;
    }
    QFile::setPermissions(dir + QStringLiteral("/htpasswd"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                 QFileDevice::ReadGroup | QFileDevice::ReadOther);

    if (tls_) {
        // An EC key is quick to make; the name is the NAS's own, not the address it is reached at.
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=yunshan-test-nas"), QStringLiteral("-keyout"),
                       dir + QStringLiteral("/key.pem"), QStringLiteral("-out"), certificate_file()});
        if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0) {
            error_ = QStringLiteral("openssl req failed: ") + QString::fromLocal8Bit(openssl.readAllStandardError());
            return;
        }
    }

    port_ = free_port();
    QString conf;
    conf += QStringLiteral("ServerRoot \"%1\"\nServerName 127.0.0.1\nListen 127.0.0.1:%2\n").arg(dir).arg(port_);
    conf += QStringLiteral("PidFile \"%1/httpd.pid\"\nMutex file:%1 default\nErrorLog \"%1/error.log\"\n").arg(dir);
    conf += QStringLiteral("LogFormat \"%m %U %>s Depth=%{Depth}i\" dav\nCustomLog \"%1/access.log\" dav\n").arg(dir);
    for (const char *m : {"mpm_event", "authz_core", "authz_user", "authn_core", "authn_file", "auth_basic", "alias",
                          "mime", "dir", "dav", "dav_fs"})
        conf += QStringLiteral("LoadModule %1_module %2/mod_%1.so\n").arg(QLatin1String(m), QLatin1String(kModules));
    if (tls_) {
        conf += QStringLiteral("LoadModule socache_shmcb_module %1/mod_socache_shmcb.so\n"
                               "LoadModule ssl_module %1/mod_ssl.so\n")
                    .arg(QLatin1String(kModules));
        conf += QStringLiteral("SSLEngine on\nSSLCertificateFile \"%1\"\nSSLCertificateKeyFile \"%2/key.pem\"\n"
                               "SSLSessionCache none\n")
                    .arg(certificate_file(), dir);
    }
    conf += run_as;
    conf += QStringLiteral("TypesConfig /etc/mime.types\nDavLockDB \"%1/lock/DavLock\"\n").arg(dir);
    conf += QStringLiteral(
        "Timeout 60\nLimitRequestBody 0\nStartServers 1\nServerLimit 2\nThreadsPerChild 8\nMaxRequestWorkers 16\n");
    conf += QStringLiteral("<Directory />\n  Require all denied\n</Directory>\n");
    conf +=
        QStringLiteral("Alias /dav \"%1\"\n<Directory \"%1\">\n  Dav On\n  AuthType Basic\n  AuthName dav\n"
                       "  AuthBasicProvider file\n  AuthUserFile \"%2/htpasswd\"\n  Require valid-user\n</Directory>\n")
            .arg(share(), dir);
    conf += QString(options.extra_config).replace(QStringLiteral("%PORT%"), QString::number(port_)) + QLatin1Char('\n');
    write_file(dir + QStringLiteral("/httpd.conf"), conf.toUtf8());

    httpd_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    httpd_.start(QString::fromLatin1(kHttpd),
                 {QStringLiteral("-f"), dir + QStringLiteral("/httpd.conf"), QStringLiteral("-DFOREGROUND")});
    if (!httpd_.waitForStarted(10000)) {
        error_ = QStringLiteral("apache2 did not start");
        return;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (port_answers(port_)) {
            started_ = true;
            return;
        }
        if (httpd_.state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    QFile log(dir + QStringLiteral("/error.log"));
    log.open(QIODevice::ReadOnly);
    error_ = QStringLiteral("apache2 did not answer: ") + QString::fromUtf8(log.readAll());
}

ApacheDav::~ApacheDav()
{
    if (httpd_.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(httpd_.processId()), SIGTERM);
        if (!httpd_.waitForFinished(10000))
            httpd_.kill();
        httpd_.waitForFinished(5000);
    }
}

QString ApacheDav::url() const
{
    return origin() + QStringLiteral("/dav/");
}

QString ApacheDav::origin() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(tls_ ? QStringLiteral("https") : QStringLiteral("http")).arg(port_);
}

QStringList ApacheDav::requests() const
{
    QFile log(root_.path() + QStringLiteral("/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

DroppingServer::DroppingServer(long long drop_after) : drop_after_(drop_after)
{
    listener_ = listen_on_loopback(8, port_);
    thread_ = std::thread([this] { serve(); });
}

DroppingServer::~DroppingServer()
{
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

QString DroppingServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/dav/").arg(port_);
}

void DroppingServer::serve()
{
    while (!stop_) {
        const int c = accept_within(listener_, 50);
        if (c < 0)
            continue;
        // One request per connection: read the head, then answer or cut off.
        const std::string head = read_request_head(c);
        char buf[65536];
        if (head.rfind("PUT ", 0) == 0) {
            if (head.find("100-continue") != std::string::npos) {
                const char cont[] = "HTTP/1.1 100 Continue\r\n\r\n";
                ::send(c, cont, sizeof cont - 1, MSG_NOSIGNAL);
            }
            long long body = static_cast<long long>(head.size() - head.find("\r\n\r\n") - 4);
            while (body < drop_after_) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 2000) <= 0)
                    break;
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                body += n;
            }
            linger l{1, 0}; // reset, as a crashing server or a broken line does
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        } else if (head.find("/notedb.zip ") != std::string::npos) {
            // No package on this share yet.
            const char answer[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
        } else {
            const char answer[] = "HTTP/1.1 207 Multi-Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
        }
        ::close(c);
    }
}

StallingServer::StallingServer(Mode mode, int interval_ms) : mode_(mode), interval_ms_(interval_ms)
{
    listener_ = listen_on_loopback(8, port_);
    // A small receive window, so a body that is not read soon fills it.
    int small = 4096;
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    thread_ = std::thread([this] { serve(); });
}

StallingServer::~StallingServer()
{
    stop_ = true;
    thread_.join();
    for (int c : held_)
        ::close(c);
    ::close(listener_);
}

QString StallingServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/dav/").arg(port_);
}

void StallingServer::serve()
{
    while (!stop_) {
        const int c = accept_within(listener_, 20);
        if (c < 0)
            continue;
        held_.push_back(c);
        if (mode_ == Mode::StopReceiving) {
            // Only the head: the body stays in the client's buffers.
            char head[512];
            (void)::recv(c, head, sizeof head, 0);
            continue;
        }
        (void)read_request_head(c);
        ++requests_;
        if (mode_ == Mode::Silent)
            continue;
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n";
        if (mode_ == Mode::StopSending) {
            send_all(c, head + QByteArray(4096, 'x'));
            continue;
        }
        for (qsizetype i = 0; i < head.size() && !stop_; ++i) {
            send_all(c, head.mid(i, 1));
            for (int waited = 0; waited < interval_ms_ && !stop_; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

int closed_port()
{
    return free_port();
}

} // namespace yunshan::test
