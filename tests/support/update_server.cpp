#include "support/update_server.h"

#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace yunshan::test {

UpdateServer::UpdateServer(bool hang) : hang_(hang)
{
    listener_ = listen_on_loopback(16, port_);
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
        const int c = accept_within(listener_, 20);
        if (c < 0)
            continue;
        if (hang_) {
            held_.push_back(c); // read nothing, answer nothing
            continue;
        }
        const QByteArray request = QByteArray::fromStdString(read_request_head(c));
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
        send_all(c, reply);
        ::close(c);
    }
}

} // namespace yunshan::test
