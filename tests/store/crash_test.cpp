// Every command against a failing disk: the n-th write, sync, truncation or deletion fails and
// nothing after it reaches the disk (a power cut), for n = 1, 2, 3 … until the command gets
// through. After each, both files are sound, each holds the notes wholly as before or wholly as
// after the command, and the next start finds any difference between them and repairs it
// towards the main file. A drive pulled from under the backup alone leaves the main file with
// the whole command and the backup as it was, which the next start repairs.
#include "catalogue/category_commands.h"
#include "catalogue/move_note.h"
#include "catalogue/note_list.h"
#include "editor/note_save.h"
#include "editor/rtf/rtf.h"
#include "notes/note_lifetime.h"
#include "pictures/attachments.h"
#include "platform/silent_dialogs.h"
#include "store/category_rows.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store_fixture.h"
#include "support/db_check.h"
#include "support/failing_vfs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

using namespace yunshan;
using namespace yunshan::test;

namespace {

QString body_text(const QString &word, int lines)
{
    QString text;
    for (int i = 0; i < lines; ++i)
        text += word + QStringLiteral(" 第%1行，mixed ASCII text for the page count.\n").arg(i);
    return text;
}

struct Command {
    const char *name;
    std::function<void(NoteStore &)> run;
};

class CrashTest : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        // The starting files: two categories, three notes (one with a rich body and a picture, one
        // encrypted), kept as the template every round starts from.
        {
            NoteStore store(lock);
            QString z = zhu, b = bei;
            ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
            write_sql(store, QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲')"));
            write_sql(store, QStringLiteral("insert into Section(px,classId,caption) values(102,1,'乙')"));
            for (int i = 1; i <= 3; ++i) {
                const NewNote n = create_note(store, QStringLiteral("默认大类"), QStringLiteral("甲"), i - 1,
                                              QStringLiteral("笔记%1").arg(i));
                QTextDocument doc;
                doc.setPlainText(body_text(QStringLiteral("旧%1").arg(i), 200));
                SaveRequest r;
                r.note_id = n.note_id;
                r.is_rtf = i == 1 ? 1 : 0;
                r.is_crypt = i == 3 ? 1 : 0;
                r.key_crypt = i == 3 ? QStringLiteral("pw") : QString();
                r.title_changed = r.body_changed = true;
                r.title = QStringLiteral("笔记%1").arg(i);
                r.label = QStringLiteral("标签%1").arg(i);
                r.body = &doc;
                save_note(store, r);
            }
            store_picture(store, 1, QByteArray(20000, 'p'));
        }
        template_main = TempFolder::read(main_file());
        template_backup = TempFolder::read(backup_file());
        ASSERT_FALSE(template_main.isEmpty());
    }

    void TearDown() override
    {
        FailingVfs::disarm();
        Connection::set_vfs({});
        StoreTest::TearDown();
    }

    void restore_template()
    {
        for (const QString &folder : {zhu, bei})
            for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
                QFile::remove(QDir(folder).filePath(name));
        TempFolder::write(main_file(), template_main);
        TempFolder::write(backup_file(), template_backup);
    }

    static QString save_body(NoteStore &store, int id, int mode, const QString &password, const QString &word)
    {
        QTextDocument doc;
        doc.setPlainText(body_text(word, 300));
        QTextCursor c(&doc);
        QTextCharFormat red;
        red.setForeground(Qt::red);
        c.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
        c.mergeCharFormat(red);
        SaveRequest r;
        r.note_id = id;
        r.is_rtf = 1;
        r.is_crypt = mode;
        r.key_crypt = password;
        r.title_changed = r.body_changed = true;
        r.title = word + QStringLiteral("标题");
        r.label = word + QStringLiteral("标签");
        r.body = &doc;
        save_note(store, r);
        return word;
    }

    const QList<Command> commands{
        {"save", [](NoteStore &s) { save_body(s, 1, 0, {}, QStringLiteral("新")); }},
        {"create",
         [](NoteStore &s) {
             create_note(s, QStringLiteral("默认大类"), QStringLiteral("甲"), 3, QStringLiteral("新的"));
         }},
        {"delete", [](NoteStore &s) { delete_note(s, 1); }},
        {"move", [](NoteStore &s) { move_note(s, 2, QStringLiteral("甲"), QStringLiteral("乙")); }},
        {"reorder", [](NoteStore &s) { apply_order(s, OrderCommand::MoveDown, kTargetNote, {}, 1, 3); }},
        {"encrypt", [](NoteStore &s) { save_body(s, 2, 1, QStringLiteral("密码"), QStringLiteral("密")); }},
        {"decrypt", [](NoteStore &s) { save_body(s, 3, 0, {}, QStringLiteral("明")); }},
        {"favourite", [](NoteStore &s) { set_favourite(s, false, 2, true); }},
        {"picture", [](NoteStore &s) { store_picture(s, 2, QByteArray(30000, 'q')); }},
        {"category", [](NoteStore &s) { add_class(s, 102, QStringLiteral("新大类")); }},
    };

    // The notes' content of a file: every row but the generation stamp, with the times of day
    // blanked (a command run again takes a later one).
    static QString content(const QString &file)
    {
        Connection c;
        c.open(file, false); // rolls back what a cut left half-written
        const auto check = c.query_first(QStringLiteral("pragma integrity_check"));
        EXPECT_EQ(check->toString(), QStringLiteral("ok")) << file.toStdString();
        static const QRegularExpression time(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"));
        return dump_database(c).replace(time, QStringLiteral("<time>"));
    }

    // Runs `command` on the template's files with `fail_at` armed; false once it got through.
    bool run_failing(const Command &command, int n, const QString &only_under, QStringList &shown)
    {
        restore_template();
        NoteStore store(lock);
        store.set_backup_failure_handler([&shown](const QString &m) { shown << m; });
        Connection::set_vfs(FailingVfs::name());
        QString z = zhu, b = bei;
        EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
        FailingVfs::fail_at(n, only_under);
        try {
            command.run(store);
        } catch (const std::exception &) {
            // the failure of the disk, as the command reports it
        }
        const bool failed = FailingVfs::failed();
        store.close_all();
        FailingVfs::disarm();
        Connection::set_vfs({});
        return failed;
    }

    // Runs `command` uncut on the template's files: the main file's content before and after.
    std::pair<QString, QString> run_whole(const Command &command)
    {
        restore_template();
        const QString before = content(main_file());
        {
            NoteStore store(lock);
            QString z = zhu, b = bei;
            EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
            command.run(store);
        }
        return {before, content(main_file())};
    }

    // The next start on the files as they are now, answering No to every question: the
    // messages it showed.
    QStringList start_again(NoteStore &store)
    {
        QStringList messages;
        SilentDialogs quiet(Dialogs::Answer::No, [&messages](const QString &m) { messages << m; });
        QString z = zhu, b = bei;
        EXPECT_EQ(store.Connect_to_db(z, b, quiet), kMainAndBackup);
        return messages;
    }

    QByteArray template_main, template_backup;
};

TEST_F(CrashTest, EveryCommandCutAtEveryWriteLeavesWholeNotesAndAMirrorTheNextStartRepairs)
{
    for (const Command &command : commands) {
        SCOPED_TRACE(command.name);
        const auto [before, after] = run_whole(command);
        ASSERT_NE(before, after);
        int n = 1;
        for (QStringList shown; run_failing(command, n, QString(), shown); ++n) {
            SCOPED_TRACE(n);
            const QString main_now = content(main_file());
            const QString backup_now = content(backup_file());
            EXPECT_TRUE(main_now == before || main_now == after);
            EXPECT_TRUE(backup_now == before || backup_now == after);
            // The next start: identical files are left alone, different ones repaired.
            NoteStore store(lock);
            const QStringList messages = start_again(store);
            EXPECT_EQ(content(main_file()), main_now);
            expect_mirror_identical(store);
            if (main_now == backup_now) {
                EXPECT_EQ(messages.size(), 0) << messages.join(u'\n').toStdString();
            }
            ASSERT_LT(n, 2000);
        }
        EXPECT_GT(n, 3); // the command did write, in several steps
    }
}

TEST_F(CrashTest, ABackupDrivePulledAtAnyWriteLeavesTheCommandWholeInTheMainFile)
{
    for (const Command &command : commands) {
        SCOPED_TRACE(command.name);
        const auto [before, after] = run_whole(command);
        int n = 1;
        int lost_backups = 0;
        for (QStringList shown; run_failing(command, n, bei, shown); ++n, shown.clear()) {
            SCOPED_TRACE(n);
            EXPECT_EQ(content(main_file()), after);
            // Cut before the commit point the backup is as it was and said to be lost; after it
            // (the engine tidying up) the backup has the command too.
            const QString backup_now = content(backup_file());
            EXPECT_TRUE(backup_now == before || backup_now == after);
            ASSERT_EQ(shown.size(), backup_now == before ? 1 : shown.size());
            if (!shown.isEmpty()) {
                EXPECT_TRUE(shown.first().startsWith(QStringLiteral("备份数据库“%1”写入失败：").arg(backup_file())))
                    << shown.first().toStdString();
            }
            lost_backups += backup_now == before;
            NoteStore store(lock);
            const QStringList messages = start_again(store);
            if (backup_now == before) {
                ASSERT_EQ(messages.size(), 1);
                EXPECT_TRUE(messages.first().startsWith(
                    QStringLiteral("备份数据库与主数据库不一致，旧备份已改名为“notedb_old_")));
            }
            expect_mirror_identical(store);
            EXPECT_EQ(content(backup_file()), after);
            ASSERT_LT(n, 2000);
        }
        EXPECT_GT(lost_backups, 0);
    }
}

} // namespace
