#pragma once
// The mark of the one instance allowed to write: a per-user lock named like the Windows
// mutex "yunshan_note". It is a file lock in the user's runtime folder, so the system frees
// it when the process dies.
#include <QString>

namespace yunshan {

class OwnerLock {
public:
    explicit OwnerLock(QString name = QStringLiteral("yunshan_note"));
    ~OwnerLock();
    OwnerLock(const OwnerLock &) = delete;
    OwnerLock &operator=(const OwnerLock &) = delete;

    // Tries to take the mark; false when another holder (any process of this user) has it.
    bool acquire();
    void release();
    bool held() const { return fd_ >= 0; }

    // The lock file for `name`: $XDG_RUNTIME_DIR, else the temporary folder.
    static QString lock_path(const QString &name);

private:
    QString name_;
    int fd_ = -1;
};

} // namespace yunshan
