// Private folders and files: the autosave folder, autosave files and the single-writer lock are
// out of other users' reach.
#include "platform/owner_lock.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

using namespace yunshan;
using test::TempFolder;

namespace {

mode_t mode_of(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

void set_mode(const QString &path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const QString &value) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        old_ = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

  private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

// Gives `path` to another user; false when this process may not (not running as root).
bool give_away(const QString &path)
{
    return ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

} // namespace

TEST(StateFolder, FollowsXdgStateHomeAndIsPrivate)
{
    const QString expected = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/YunShanNote/");
    EXPECT_EQ(state_folder(), expected);
    EXPECT_EQ(autosave_folder(), expected);
    EXPECT_EQ(mode_of(expected), 0700u);
}

TEST(StateFolder, DefaultsUnderHomeAndClosesAnOpenFolder)
{
    TempFolder home;
    ScopedEnv h("HOME", home.path());
    ScopedEnv x("XDG_STATE_HOME", QString());
    const QString folder = home.path() + QStringLiteral("/.local/state/YunShanNote/");
    EXPECT_EQ(state_folder(), folder);
    EXPECT_EQ(mode_of(folder), 0700u);
    set_mode(folder, 0755);
    state_folder();
    EXPECT_EQ(mode_of(folder), 0700u);
}

TEST(PrivateFiles, WrittenFilesAreOwnerOnlyAndLinksAreNotFollowed)
{
    TempFolder dir;
    const QString folder = dir.mkdir(QStringLiteral("state"));
    set_mode(folder, 0700);
    const QString outside = dir.file(QStringLiteral("victim"));
    TempFolder::write(outside, "keep");
    const QString path = folder + QStringLiteral("/7.rtf");
    ASSERT_TRUE(QFile::link(outside, path));
    // A link planted at the path is replaced, not written through.
    ASSERT_TRUE(write_private_file(path, "{\\rtf1 new}"));
    EXPECT_EQ(TempFolder::read(outside), QByteArray("keep"));
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(read_private_file(path), QByteArray("{\\rtf1 new}"));

    // A planted link is never read through.
    const QString linked = folder + QStringLiteral("/8.rtf");
    ASSERT_TRUE(QFile::link(outside, linked));
    EXPECT_EQ(read_private_file(linked), std::nullopt);
    EXPECT_EQ(read_private_file(folder + QStringLiteral("/9.rtf")), std::nullopt);

    // Nothing is written into or read from a folder others may write to.
    set_mode(folder, 0777);
    EXPECT_FALSE(write_private_file(folder + QStringLiteral("/10.rtf"), "x"));
    EXPECT_EQ(read_private_file(path), std::nullopt);
}

TEST(PrivateFiles, AnotherUsersFileIsNotRead)
{
    TempFolder dir;
    const QString folder = dir.mkdir(QStringLiteral("state"));
    set_mode(folder, 0700);
    const QString path = folder + QStringLiteral("/7.rtf");
    ASSERT_TRUE(write_private_file(path, "{\\rtf1 planted}"));
    if (!give_away(path))
        GTEST_SKIP() << "changing a file's owner needs root";
    EXPECT_EQ(read_private_file(path), std::nullopt);
}

TEST(OwnerLock, FallbackFolderMustBeTheUsersOwnAndClosed)
{
    TempFolder tmp;
    ScopedEnv r("XDG_RUNTIME_DIR", QString());
    ScopedEnv t("TMPDIR", tmp.path());
    const QString shared = tmp.path() + QStringLiteral("/yunshan-") + QString::number(::getuid());
    const QString own = state_folder().chopped(1);

    // Missing: made private and used.
    EXPECT_EQ(OwnerLock::lock_folder(), shared);
    EXPECT_EQ(mode_of(shared), 0700u);

    // Open to others (a lock file may already be planted): not used, and left as it is.
    set_mode(shared, 0777);
    EXPECT_EQ(OwnerLock::lock_folder(), own);
    EXPECT_EQ(mode_of(shared), 0777u);
    {
        OwnerLock a(QStringLiteral("yunshan_note_fallback"));
        OwnerLock b(QStringLiteral("yunshan_note_fallback"));
        EXPECT_TRUE(a.acquire());
        EXPECT_FALSE(b.acquire());
        EXPECT_TRUE(QFile::exists(own + QStringLiteral("/yunshan_note_fallback.lock")));
    }

    // A link in its place: not used.
    ASSERT_TRUE(QDir().rmdir(shared));
    const QString elsewhere = tmp.mkdir(QStringLiteral("elsewhere"));
    set_mode(elsewhere, 0700);
    ASSERT_TRUE(QFile::link(elsewhere, shared));
    EXPECT_EQ(OwnerLock::lock_folder(), own);

    // Another user's folder: not used.
    ASSERT_TRUE(QFile::remove(shared));
    ASSERT_TRUE(QDir().mkdir(shared));
    set_mode(shared, 0700);
    if (give_away(shared)) {
        EXPECT_EQ(OwnerLock::lock_folder(), own);
    }
}

TEST(OwnerLock, LockFileIsNotFollowedThroughALink)
{
    const QString target = OwnerLock::lock_folder() + QStringLiteral("/elsewhere.lock");
    const QString path = OwnerLock::lock_path(QStringLiteral("yunshan_note_linked"));
    ASSERT_TRUE(QFile::link(target, path));
    OwnerLock lock(QStringLiteral("yunshan_note_linked"));
    EXPECT_FALSE(lock.acquire());
    EXPECT_FALSE(QFile::exists(target));
    QFile::remove(path);
}
