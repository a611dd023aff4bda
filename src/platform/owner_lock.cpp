#include "platform/owner_lock.h"

#include "platform/paths.h"
#include "platform/private_files.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace yunshan {

OwnerLock::OwnerLock(QString name) : name_(std::move(name)) {}

OwnerLock::~OwnerLock()
{
    release();
}

QString OwnerLock::lock_folder()
{
    // Only a folder nobody else can write to: another user must not be able to plant the lock
    // file (and so push every start into read-only mode).
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && is_private_folder(runtime))
        return runtime;
    const QString shared = QDir::tempPath() + QStringLiteral("/yunshan-") + QString::number(::getuid());
    if (ensure_private_folder(shared, false))
        return shared;
    QString own = state_folder();
    own.chop(1);
    return own;
}

QString OwnerLock::lock_path(const QString &name)
{
    return lock_folder() + QLatin1Char('/') + name + QStringLiteral(".lock");
}

bool OwnerLock::acquire()
{
    if (held())
        return true;
    const QByteArray path = QFile::encodeName(lock_path(name_));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void OwnerLock::release()
{
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace yunshan
