#pragma once
// Small blocking socket pieces for the hand-made HTTP servers of the tests, on 127.0.0.1 only.
#include <QByteArray>

#include <string>

namespace yunshan::test {

// A listening socket on 127.0.0.1 at a free port, which is stored in `port`.
int listen_on_loopback(int backlog, int &port);

// The next connection, or -1 when none came within `timeout_ms`.
int accept_within(int listener, int timeout_ms);

// Reads until the end of the request head ("\r\n\r\n") or two seconds of silence; returns what
// was read (the head and whatever of the body came with it).
std::string read_request_head(int connection);

// Sends all of `bytes` unless the peer goes away.
void send_all(int connection, const QByteArray &bytes);

} // namespace yunshan::test
