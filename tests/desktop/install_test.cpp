// `cmake --install` into a temporary prefix puts every file in its XDG place, and the program
// starts from the installed desktop entry's Exec line and closes cleanly.
#include "app/command_line.h"
#include "desktop/run_tool.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <exception>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace yunshan {
namespace {

using test::run_tool;
using test::TempFolder;

const QString kId = QString::fromLatin1(kApplicationId);

// Whether someone holds the single-writer lock file (checked only while the program is not
// starting, so the check itself never takes the lock from it).
bool lock_held(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// The first major category of the notes in `file`, read while the program may be writing.
QString first_major_category(const QString &file)
{
    if (!QFileInfo::exists(file))
        return {};
    try {
        Connection db;
        db.open(file, false);
        const auto v = db.query_first(QStringLiteral("select caption from Class order by px limit 1"));
        return v ? v->toString() : QString();
    } catch (const std::exception &) {
        return {}; // not yet created, or busy
    }
}

TEST(InstallTest, InstalledProgramStartsFromItsDesktopEntryAndClosesCleanly)
{
    TempFolder dir;
    const QString prefix = dir.mkdir(QStringLiteral("prefix"));
    const auto install =
        run_tool(QStringLiteral(YUNSHAN_CMAKE),
                 {QStringLiteral("--install"), QStringLiteral(YUNSHAN_BUILD_DIR), QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(install.exit_code, 0) << install.out.toStdString() << install.err.toStdString();

    const QString bin = prefix + QStringLiteral("/" YUNSHAN_INSTALL_BINDIR);
    const QString data = prefix + QStringLiteral("/" YUNSHAN_INSTALL_DATADIR);
    const QString entry = data + QStringLiteral("/applications/") + kId + QStringLiteral(".desktop");
    EXPECT_TRUE(QFileInfo(bin + QStringLiteral("/yunshan-note")).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(entry));
    EXPECT_TRUE(QFileInfo::exists(data + QStringLiteral("/metainfo/") + kId + QStringLiteral(".metainfo.xml")));
    const QString icons = data + QStringLiteral("/icons/hicolor/");
    EXPECT_EQ(QImage(icons + QStringLiteral("scalable/apps/") + kId + QStringLiteral(".svg")).isNull(), false);
    for (const int size : {48, 256}) {
        const QString name = QStringLiteral("%1x%1/apps/").arg(size) + kId + QStringLiteral(".png");
        const QImage png(icons + name);
        EXPECT_EQ(png.size(), QSize(size, size)) << name.toStdString();
        // A picture, not an empty square: the middle is drawn.
        EXPECT_NE(qAlpha(png.pixel(size / 2, size / 2)), 0) << name.toStdString();
    }

    // The Exec line as a launcher runs it: field codes dropped, the program looked up in PATH.
    QSettings desktop(entry, QSettings::IniFormat);
    QStringList exec =
        desktop.value(QStringLiteral("Desktop Entry/Exec")).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    exec.removeIf([](const QString &w) { return w.startsWith(QLatin1Char('%')); });
    ASSERT_FALSE(exec.isEmpty());
    const QString program = QStandardPaths::findExecutable(exec.takeFirst(), {bin});
    ASSERT_EQ(program, bin + QStringLiteral("/yunshan-note"));

    // A user whose settings name a fresh main folder.
    const QString config = dir.mkdir(QStringLiteral("config"));
    const QString runtime = dir.mkdir(QStringLiteral("runtime"));
    const QString notes = dir.mkdir(QStringLiteral("notes"));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(config + QStringLiteral("/YunShanNote"));
    SettingsStore(config + QStringLiteral("/YunShanNote/YunShanNote.ini")).set_zhu_db(notes);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), data + QStringLiteral(":/usr/local/share:/usr/share"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.mkdir(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    QProcess run;
    run.setProcessEnvironment(env);
    run.start(program, exec);
    ASSERT_TRUE(run.waitForStarted(10000));
    // It comes up: the notes are created with their first major category.
    const QString notes_file = notes + QStringLiteral("/notedb.sl3");
    const bool created = QTest::qWaitFor(
        [&] { return run.state() == QProcess::NotRunning || !first_major_category(notes_file).isEmpty(); }, 60000);
    ASSERT_TRUE(created);
    ASSERT_EQ(run.state(), QProcess::Running) << run.readAllStandardError().toStdString();
    EXPECT_EQ(first_major_category(notes_file), QStringLiteral("默认大类"));

    // A termination request (the session ending) is the window's close request: only the shown
    // main window's event loop turns it into a normal end; before that the signal would kill.
    run.terminate();
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_FALSE(lock_held(runtime + QStringLiteral("/yunshan_note.lock")));
}

} // namespace
} // namespace yunshan
