// Nothing typed is lost: the real program is killed after its autosave and started again.
#include "platform/settings_store.h"
#include "store/connection.h"
#include "support/db_check.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace yunshan {
namespace {

using test::TempFolder;

// One run of the program, driven line by line.
class Program {
  public:
    explicit Program(const QProcessEnvironment &env)
    {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(YUNSHAN_PROGRAM_DRIVER), {});
    }
    ~Program()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }
    bool started() { return process_.waitForStarted(10000); }

    // Sends a command and returns its answer line.
    QString command(const QString &line)
    {
        process_.write((line + QLatin1Char('\n')).toUtf8());
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(60000))
                return QStringLiteral("no answer to ") + line;
        }
        return QString::fromUtf8(process_.readLine()).trimmed();
    }
    void kill()
    {
        process_.kill(); // SIGKILL
        process_.waitForFinished(10000);
    }
    bool finished() { return process_.waitForFinished(60000) && process_.exitStatus() == QProcess::NormalExit; }

  private:
    QProcess process_;
};

QString read_value(const QString &file, const QString &sql)
{
    Connection db;
    db.open(file, false);
    const auto v = db.query_first(sql);
    return v ? v->toString() : QString();
}

TEST(AutosaveProcessTest, TypedTextSurvivesKillAfterAutosave)
{
    TempFolder dir;
    const QString zhu = dir.mkdir(QStringLiteral("main"));
    const QString bei = dir.mkdir(QStringLiteral("backup"));
    const QString config = dir.mkdir(QStringLiteral("config"));
    const QString state = dir.mkdir(QStringLiteral("state"));
    const QString runtime = dir.mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(config + QStringLiteral("/YunShanNote"));
    {
        SettingsStore settings(config + QStringLiteral("/YunShanNote/YunShanNote.ini"));
        settings.set_zhu_db(zhu);
        settings.set_bei_db(bei);
    }
    // A database with one minor category and one saved note, mirrored in the backup folder.
    const QString main_file = zhu + QStringLiteral("/notedb.sl3");
    const QString backup_file = bei + QStringLiteral("/notedb.sl3");
    {
        Connection db;
        db.open(main_file);
        for (const char *sql :
             {"CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT)",
              "CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId INTEGER NOT "
              "NULL,caption TEXT)",
              "CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   "
              "INTEGER,sectionId INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),fast INTEGER DEFAULT (0),beiyong1 "
              "INTEGER DEFAULT (0),beiyong2 INTEGER DEFAULT (0),beiyong3 INTEGER DEFAULT (0),beiyong4 INTEGER DEFAULT "
              "(0),beiyong5 TEXT,isRtf INTEGER DEFAULT (0),caption TEXT)",
              "CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),beiyong1 INTEGER "
              "DEFAULT (0),beiyong2 TEXT,label TEXT,cuanjian TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put TIMESTAMP DEFAULT "
              "CURRENT_TIMESTAMP,content TEXT)",
              "CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB)",
              "CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 INTEGER,value3 "
              "TEXT,value4 TEXT)",
              "CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB)",
              "CREATE TABLE set_table (key1 TEXT,value1 TEXT)", "insert into Class(px,caption) values(500,'默认大类')",
              "insert into Section(px,classId,caption) values(100,1,'日记')",
              "insert into notes(label,cuanjian,put,content) values('旧标签','2023-01-01 00:00:00','2023-01-01 "
              "00:00:00','旧正文')",
              "insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,1,'旧标题')",
              "insert into set_table(key1,value1) values('tmp_file1','000')"})
            db.execute(QString::fromUtf8(sql));
    }
    ASSERT_TRUE(QFile::copy(main_file, backup_file));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_STATE_HOME"), state);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("YUNSHAN_AUTOSAVE_SECONDS"), QStringLiteral("1"));
    const QString autosave = state + QStringLiteral("/YunShanNote/1.rtf");

    {
        Program run(env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        ASSERT_EQ(run.command(QStringLiteral("select ListBox3 0")), QStringLiteral("ok select"));
        ASSERT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 旧标题|旧标签"));
        for (const char *line : {"focus Edit2", "type Edit2 ，改'过\"%", "focus Edit3", "type Edit3 新标签",
                                 "focus RichEdit1", "type RichEdit1 刚刚打的字，没有保存。"})
            ASSERT_TRUE(run.command(QString::fromUtf8(line)).startsWith(QLatin1String("ok"))) << line;
        ASSERT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 1 旧标题，改'过\"%|旧标签新标签"));
        // The shortened autosave cycle ends; the program is then killed without a chance to save.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const QString key = QStringLiteral("select value1 from set_table where key1='tmp_file1'");
                return QFile::exists(autosave) && read_value(main_file, key) == QLatin1String("1") &&
                       read_value(backup_file, key) == QLatin1String("1");
            },
            60000));
        run.kill();
    }
    EXPECT_EQ(read_value(main_file, QStringLiteral("select caption from title where noteId=1")),
              QStringLiteral("旧标题"));

    {
        Program run(env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        // The body comes back with the title and tag line as typed, waiting to be saved.
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 1 旧标题，改'过\"%|旧标签新标签"));
        ASSERT_EQ(run.command(QStringLiteral("click SpeedButton2")), QStringLiteral("ok click"));
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 旧标题，改'过\"%|旧标签新标签"));
        ASSERT_EQ(run.command(QStringLiteral("close")), QStringLiteral("ok close"));
        ASSERT_TRUE(run.finished());
    }
    for (const QString &file : {main_file, backup_file}) {
        SCOPED_TRACE(file.toStdString());
        const QString content = read_value(file, QStringLiteral("select content from notes where id=1"));
        EXPECT_TRUE(content.contains(QStringLiteral("刚刚打的字，没有保存。"))) << content.toStdString();
        EXPECT_EQ(read_value(file, QStringLiteral("select caption from title where noteId=1")),
                  QStringLiteral("旧标题，改'过\"%"));
        EXPECT_EQ(read_value(file, QStringLiteral("select label from notes where id=1")),
                  QStringLiteral("旧标签新标签"));
        EXPECT_EQ(read_value(file, QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
                  QStringLiteral("000"));
    }
    EXPECT_FALSE(QFile::exists(autosave));
    test::expect_files_identical(main_file, backup_file);
}

} // namespace
} // namespace yunshan
