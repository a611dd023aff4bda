#pragma once
// The mark of the one instance allowed to write: a per-user lock named like the Windows
// mutex "yunshan_note". It is a file lock in a private folder of the user (the runtime folder
// when there is one), so the system frees it when the process dies.
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

    // The folder of the lock file: $XDG_RUNTIME_DIR, else "yunshan-<uid>" in the temporary
    // folder, else the state folder; only one that is this user's own and closed to others.
    static QString lock_folder();
    // The lock file for `name` in that folder.
    static QString lock_path(const QString &name);

  private:
    QString name_;
    int fd_ = -1;
};

} // namespace yunshan
