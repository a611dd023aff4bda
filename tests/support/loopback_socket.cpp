#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace yunshan::test {

int listen_on_loopback(int backlog, int &port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, backlog);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return listener;
}

int accept_within(int listener, int timeout_ms)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
        return -1;
    return ::accept(listener, nullptr, nullptr);
}

std::string read_request_head(int connection)
{
    std::string head;
    char buf[65536];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd q{connection, POLLIN, 0};
        if (::poll(&q, 1, 2000) <= 0)
            break;
        const ssize_t n = ::recv(connection, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, static_cast<size_t>(n));
    }
    return head;
}

void send_all(int connection, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(connection, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
}

} // namespace yunshan::test
