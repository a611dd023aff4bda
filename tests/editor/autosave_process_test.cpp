// Nothing typed is lost: the real program is killed after its autosave and started again.
#include "crypto/note_crypt.h"
#include "editor/note_loader.h"
#include "editor/rtf/rtf.h"
#include "store/connection.h"
#include "store/note_rows.h"
#include "support/db_check.h"
#include "support/driven_program.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTextDocument>

#include <functional>

namespace yunshan {
namespace {

using test::TempFolder;

// One run of the program, driven line by line.
class Program : public test::DrivenProgram {
  public:
    explicit Program(const QProcessEnvironment &env) : DrivenProgram(QStringLiteral(YUNSHAN_PROGRAM_DRIVER), env) {}
};

QString read_value(const QString &file, const QString &sql)
{
    Connection db;
    db.open(file, false);
    const auto v = db.query_first(sql);
    return v ? v->toString() : QString();
}

// The tables of a database file as the program makes them, a major and a minor category, and
// the autosave key.
const char *const kSchema[] = {
    "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT)",
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
    "CREATE TABLE set_table (key1 TEXT,value1 TEXT)",
    "insert into Class(px,caption) values(500,'默认大类')",
    "insert into Section(px,classId,caption) values(100,1,'日记')",
    "insert into set_table(key1,value1) values('tmp_file1','000')",
};

// The folders of the runs and the environment the program runs in (a one-second autosave cycle).
struct Runs : test::DriverFolders {
    Runs() { env.insert(QStringLiteral("YUNSHAN_AUTOSAVE_SECONDS"), QStringLiteral("1")); }
    QString autosave(int note_id) const
    {
        return state + QStringLiteral("/YunShanNote/") + QString::number(note_id) + QStringLiteral(".rtf");
    }
    // A database with one minor category and one note (`note` inserts its notes and title rows),
    // mirrored in the backup folder.
    void make_database(const std::function<void(Connection &)> &note) const
    {
        {
            Connection db;
            db.open(main_file);
            for (const char *sql : kSchema)
                db.execute(QString::fromUtf8(sql));
            note(db);
        }
        ASSERT_TRUE(QFile::copy(main_file, backup_file));
    }
    // The autosave cycle ended: the file is written and recorded in both databases.
    bool autosaved(int note_id) const
    {
        return QTest::qWaitFor(
            [&] {
                const QString key = QStringLiteral("select value1 from set_table where key1='tmp_file1'");
                const QString id = QString::number(note_id);
                return QFile::exists(autosave(note_id)) && read_value(main_file, key) == id &&
                       read_value(backup_file, key) == id;
            },
            60000);
    }
};

TEST(AutosaveProcessTest, TypedTextSurvivesKillAfterAutosave)
{
    Runs runs;
    runs.make_database([](Connection &db) {
        db.execute(QStringLiteral("insert into notes(label,cuanjian,put,content) values('旧标签','2023-01-01 "
                                  "00:00:00','2023-01-01 00:00:00','旧正文')"));
        db.execute(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,1,'旧标题')"));
    });
    {
        Program run(runs.env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        ASSERT_EQ(run.command(QStringLiteral("select ListBox3 0")), QStringLiteral("ok select"));
        ASSERT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 旧标题|旧标签"));
        for (const char *line : {"focus Edit2", "type Edit2 ，改'过\"%", "focus Edit3", "type Edit3 新标签",
                                 "focus RichEdit1", "type RichEdit1 刚刚打的字，没有保存。"})
            ASSERT_TRUE(run.command(QString::fromUtf8(line)).startsWith(QLatin1String("ok"))) << line;
        ASSERT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 1 旧标题，改'过\"%|旧标签新标签"));
        // The shortened autosave cycle ends; the program is then killed without a chance to save.
        ASSERT_TRUE(runs.autosaved(1));
        run.kill();
    }
    EXPECT_EQ(read_value(runs.main_file, QStringLiteral("select caption from title where noteId=1")),
              QStringLiteral("旧标题"));

    {
        Program run(runs.env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        // The body comes back with the title and tag line as typed, waiting to be saved.
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 1 旧标题，改'过\"%|旧标签新标签"));
        ASSERT_EQ(run.command(QStringLiteral("click SpeedButton2")), QStringLiteral("ok click"));
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 旧标题，改'过\"%|旧标签新标签"));
        ASSERT_EQ(run.command(QStringLiteral("close")), QStringLiteral("ok close"));
        ASSERT_TRUE(run.finished());
    }
    for (const QString &file : {runs.main_file, runs.backup_file}) {
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
    EXPECT_FALSE(QFile::exists(runs.autosave(1)));
    test::expect_files_identical(runs.main_file, runs.backup_file);
}

// An encrypted note's text typed after its last save reaches the disk only encrypted, and comes
// back at the next start that is given its password.
TEST(AutosaveProcessTest, EncryptedNoteComesBackWithItsPasswordOnly)
{
    const QString pw = QStringLiteral("口令pw");
    const QString typed = QStringLiteral("刚打的机密内容");
    Runs runs;
    runs.make_database([&pw](Connection &db) {
        const EncodedNoteFields stored =
            encode_note_fields({QStringLiteral("机密标题"), QStringLiteral("机密标签"), QStringLiteral("旧内容"), {}},
                               kEncryptedWithTitle, pw);
        db.execute(QStringLiteral("insert into notes(label,cuanjian,put,content) values(?,'2023-01-01 "
                                  "00:00:00','2023-01-01 00:00:00',?)"),
                   {stored.label, stored.content});
        db.execute(QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,caption) values(100,1,1,1,?,?)"),
                   {stored.isDel, stored.caption});
    });
    const QString file = runs.autosave(1);

    runs.env.insert(QStringLiteral("YUNSHAN_DRIVER_ANSWERS"), pw); // the unlock
    {
        Program run(runs.env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        ASSERT_EQ(run.command(QStringLiteral("select ListBox3 0")), QStringLiteral("ok select"));
        ASSERT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 机密标题|机密标签"));
        ASSERT_EQ(run.command(QStringLiteral("focus RichEdit1")), QStringLiteral("ok focus"));
        ASSERT_EQ(run.command(QStringLiteral("type RichEdit1 ") + typed), QStringLiteral("ok type"));
        ASSERT_TRUE(runs.autosaved(1));
        run.kill();
    }
    const QByteArray bytes = TempFolder::read(file);
    EXPECT_TRUE(is_encrypted_autosave(bytes));
    for (const QString &t : {typed, QStringLiteral("机密标题")}) {
        const QByteArray utf16(reinterpret_cast<const char *>(t.utf16()), t.size() * 2);
        EXPECT_FALSE(bytes.contains(t.toUtf8()) || bytes.contains(utf16)) << t.toStdString();
    }

    // A wrong password: the note stays as stored and the file waits for the next start.
    runs.env.insert(QStringLiteral("YUNSHAN_DRIVER_ANSWERS"), QStringLiteral("错的|OK"));
    {
        Program run(runs.env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        EXPECT_EQ(run.command(QStringLiteral("shown")), QStringLiteral("ok 密码|密码错误！"));
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok -1 0 |"));
        ASSERT_EQ(run.command(QStringLiteral("close")), QStringLiteral("ok close"));
        ASSERT_TRUE(run.finished());
    }
    EXPECT_EQ(TempFolder::read(file), bytes);

    runs.env.insert(QStringLiteral("YUNSHAN_DRIVER_ANSWERS"), pw);
    {
        Program run(runs.env);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.command(QStringLiteral("ready")).toStdString(), "ok ready");
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 1 机密标题|机密标签"));
        ASSERT_EQ(run.command(QStringLiteral("click SpeedButton2")), QStringLiteral("ok click"));
        EXPECT_EQ(run.command(QStringLiteral("state")), QStringLiteral("ok 1 0 机密标题|机密标签"));
        ASSERT_EQ(run.command(QStringLiteral("close")), QStringLiteral("ok close"));
        ASSERT_TRUE(run.finished());
    }
    EXPECT_FALSE(QFile::exists(file));
    test::expect_files_identical(runs.main_file, runs.backup_file);
    EXPECT_EQ(read_value(runs.main_file, QStringLiteral("select isDel from title where noteId=1")),
              QStringLiteral("1"));
    Connection db;
    db.open(runs.main_file, false);
    const auto rtf = db.query_first(QStringLiteral("select rtf from rtffile where noteId=1"));
    ASSERT_TRUE(rtf.has_value());
    StoredNote stored;
    stored.has_rtf = true;
    stored.rtf = rtf->toByteArray();
    stored.has_notes_row = true;
    stored.label = read_value(runs.main_file, QStringLiteral("select label from notes where id=1"));
    stored.content = read_value(runs.main_file, QStringLiteral("select content from notes where id=1"));
    decrypt_stored_note(stored, kEncryptedWithTitle, pw, TextForm::Utf16Le);
    EXPECT_EQ(stored.label, QStringLiteral("机密标签"));
    QTextDocument body;
    read_rtf(stored.rtf, body);
    EXPECT_TRUE(body.toPlainText().contains(typed)) << body.toPlainText().toStdString();
    EXPECT_TRUE(body.toPlainText().contains(QStringLiteral("旧内容"))) << body.toPlainText().toStdString();
}

} // namespace
} // namespace yunshan
