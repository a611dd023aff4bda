#include "support/update_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace yunshan::test {

UpdateServer::UpdateServer(bool hang) : hang_(hang)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener_, 16);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

UpdateServer::~UpdateServer()
{
    stop_ = true;
    thread_.join();
    for (int c : held_)
        ::close(c);
    ::close(listener_);
}

QString UpdateServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void UpdateServer::answer(const QByteArray &target, int status, const QByteArray &body)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[target] = Answer{status, body};
}

QStringList UpdateServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void UpdateServer::serve()
{
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int c = ::accept(listener_, nullptr, nullptr);
        if (c < 0)
            continue;
        if (hang_) {
            held_.push_back(c); // read nothing, answer nothing
            continue;
        }
        std::string head;
        char buf[8192];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 2000) <= 0)
                break;
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            head.append(buf, static_cast<size_t>(n));
        }
        const QByteArray request = QByteArray::fromStdString(head);
        const QList<QByteArray> first = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray target = first.size() >= 2 ? first[1] : QByteArray();
        Answer a{404, "not found"};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_ << QString::fromUtf8(request);
            a = answers_.value(target, a);
        }
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(a.status) + " X\r\nConnection: close\r\n";
        if (a.status >= 300 && a.status < 400) {
            reply += "Location: " + a.body + "\r\nContent-Length: 0\r\n\r\n";
        } else {
            reply += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(a.body.size()) +
                     "\r\n\r\n" + a.body;
        }
        qsizetype sent = 0;
        while (sent < reply.size()) {
            const ssize_t n =
                ::send(c, reply.constData() + sent, static_cast<size_t>(reply.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(c);
    }
}

} // namespace yunshan::test
