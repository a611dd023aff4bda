#pragma once
// A file-system layer for the database engine that fails chosen writes, for crash tests: the
// N-th write, sync, truncation or deletion of a file fails, and with it every later one, as when
// the power goes or a drive is pulled. Nothing after the failure reaches the disk; what reached
// it before stays. Install it with Connection::set_vfs(FailingVfs::name()) before opening.
#include <QByteArray>
#include <QString>

namespace yunshan::test {

class FailingVfs {
  public:
    // Registers the layer once; its name for Connection::set_vfs.
    static QByteArray name();

    // From now on, the `n`-th file operation that changes the disk fails (n >= 1), and every later
    // one. Only files whose path contains `only_under` count and fail (empty: every file).
    static void fail_at(int n, const QString &only_under = {});
    // Counts the operations that change the disk without failing any.
    static void count_only(const QString &only_under = {});
    // No counting, no failing.
    static void disarm();
    // Operations counted since fail_at or count_only.
    static int operations();
    // Whether the failure has happened.
    static bool failed();
};

} // namespace yunshan::test
