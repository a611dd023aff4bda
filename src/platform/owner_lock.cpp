#include "platform/owner_lock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace yunshan {

OwnerLock::OwnerLock(QString name) : name_(std::move(name)) {}

OwnerLock::~OwnerLock() { release(); }

QString OwnerLock::lock_path(const QString &name)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath() + QStringLiteral("/yunshan-") + QString::number(getuid());
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name + QStringLiteral(".lock");
}

bool OwnerLock::acquire()
{
    if (held())
        return true;
    const QByteArray path = QFile::encodeName(lock_path(name_));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
