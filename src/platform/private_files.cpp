#include "platform/private_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace yunshan {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool close_checked()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

} // namespace

bool is_private_folder(const QString &folder)
{
    struct stat st {};
    if (::lstat(native(folder).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

bool ensure_private_folder(const QString &folder, bool tighten)
{
    const QString clean = QDir::cleanPath(folder);
    const QString parent = QFileInfo(clean).absolutePath();
    if (!parent.isEmpty() && !QFileInfo::exists(parent))
        QDir().mkpath(parent);
    if (::mkdir(native(clean).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(native(clean).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && (!tighten || ::chmod(native(clean).constData(), 0700) != 0))
        return false;
    return true;
}

bool write_private_file(const QString &path, const QByteArray &bytes)
{
    if (!is_private_folder(QFileInfo(path).absolutePath()))
        return false;
    const QString side = path + QStringLiteral(".part");
    ::unlink(native(side).constData()); // a leftover of an interrupted write (or a planted link)
    Fd fd(::open(native(side).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return false;
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::unlink(native(side).constData());
            return false;
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd.get()) != 0 || !fd.close_checked() ||
        ::rename(native(side).constData(), native(path).constData()) != 0) {
        ::unlink(native(side).constData());
        return false;
    }
    return true;
}

std::optional<QByteArray> read_private_file(const QString &path)
{
    if (!is_private_folder(QFileInfo(path).absolutePath()))
        return std::nullopt;
    Fd fd(::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
        return std::nullopt;
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    return file.readAll();
}

} // namespace yunshan
