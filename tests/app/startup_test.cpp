#include "../store/store_fixture.h"
#include "app/startup.h"
#include "notes/autosave.h"
#include "platform/settings_store.h"
#include "store/note_store.h"
#include "support/db_check.h"

#include <QFile>

#include <functional>

using namespace yunshan;
using namespace yunshan::test;

TEST(Startup, SettingsReadAndFontOnlyWithBothValues)
{
    TempFolder dir;
    struct Case {
        QString name, size;
        bool font;
        bool error;
        int points = 12;
    };
    const Case cases[] = {
        {QStringLiteral("楷体"), QStringLiteral("12"), true, false},
        {QString(), QStringLiteral("12"), false, false},
        {QStringLiteral("楷体"), QString(), false, false},
        {QStringLiteral("楷体"), QStringLiteral("abc"), false, true},
        {QStringLiteral("楷体"), QStringLiteral("12.5"), false, true},
        {QStringLiteral("楷体"), QStringLiteral("0"), true, false, 0},
        {QStringLiteral("楷体"), QStringLiteral("-16"), true, false, -16},
    };
    int n = 0;
    for (const auto &c : cases) {
        SettingsStore s(dir.file(QStringLiteral("s%1.ini").arg(n++)));
        s.set_value(QStringLiteral("zhu_db"), QStringLiteral("/数据"));
        s.set_value(QStringLiteral("auto"), QStringLiteral("1"));
        if (!c.name.isEmpty())
            s.set_value(QStringLiteral("font_name"), c.name);
        if (!c.size.isEmpty())
            s.set_value(QStringLiteral("font_size"), c.size);
        RunSettings run;
        QString error;
        const auto font = read_start_settings(s, run, error);
        EXPECT_EQ(run.zhu_db, QStringLiteral("/数据"));
        EXPECT_EQ(run.auto_backup, QStringLiteral("1"));
        EXPECT_EQ(font.has_value(), c.font) << n;
        EXPECT_EQ(!error.isEmpty(), c.error) << n;
        if (font) {
            EXPECT_EQ(font->name, c.name);
            EXPECT_EQ(font->size, c.points);
        }
    }
    RunSettings empty;
    QString error;
    EXPECT_FALSE(read_start_settings(SettingsStore(dir.file(QStringLiteral("none.ini"))), empty, error));
    EXPECT_TRUE(empty.zhu_db.isEmpty());
}

class StartupStore : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        run.zhu_db = zhu;
        run.bei_db = bei;
        run.tmp_save = dir.mkdir(QStringLiteral("tmp")) + QLatin1Char('/');
        store.Connect_to_db(run.zhu_db, run.bei_db, dialogs);
    }
    QString key(const char *k)
    {
        return store.get_first_string(
            QStringLiteral("select value1 from set_table where key1='%1'").arg(QString::fromUtf8(k)));
    }
    NoteStore store{lock};
    RunSettings run;
};

TEST_F(StartupStore, DeferredStepReadsWebdavAndLeavesTheAutosaveKeyAlone)
{
    write_sql(store, QStringLiteral("insert into set_table(key1,value1)  values('启动从网盘同步','1')"));
    write_sql(store,
              QStringLiteral("insert into set_table(key1,value1)  values('webDAV网址','https://dav.example/x')"));
    write_sql(store, QStringLiteral("insert into set_table(key1,value1)  values('webDAV用户名','u')"));
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','42')"));
    TempFolder::write(autosave_path(run.tmp_save, 42), QByteArray("{\\rtf1 x}"));
    const DeferredStepResult r = deferred_settings_step(store, run);
    EXPECT_FALSE(r.show_settings);
    EXPECT_TRUE(r.start_download);
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("42"));
    EXPECT_TRUE(QFile::exists(autosave_path(run.tmp_save, 42)));
    EXPECT_TRUE(run.webdav_qdxz);
    EXPECT_FALSE(run.webdav_tcbc);
    EXPECT_EQ(run.dav_url, QStringLiteral("https://dav.example/x/"));
    EXPECT_EQ(run.dav_username, QStringLiteral("u"));
    EXPECT_EQ(run.dav_password, QString());

    // An absent address stays empty: no "/" of its own for the settings dialog to show.
    write_sql(store, QStringLiteral("delete from set_table where key1='webDAV网址'"));
    deferred_settings_step(store, run);
    EXPECT_EQ(run.dav_url, QString());
}

TEST_F(StartupStore, PendingAutosaveCreatesTheKeyAndNamesAnExistingFile)
{
    PendingAutosave p = pending_autosave(store, run);
    EXPECT_EQ(p.note_id, -1);
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("000"));
    expect_mirror_identical(store);
    pending_autosave(store, run); // the key is there: no second row
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='tmp_file1'")), 1);

    write_sql(store, QStringLiteral("update set_table set value1='42' where key1='tmp_file1'"));
    // No file (the folder was cleared): nothing to recover.
    EXPECT_EQ(pending_autosave(store, run).note_id, -1);
    TempFolder::write(autosave_path(run.tmp_save, 42), QByteArray("{\\rtf1 x}"));
    p = pending_autosave(store, run);
    EXPECT_EQ(p.note_id, 42);
    EXPECT_EQ(p.file, run.tmp_save + QStringLiteral("42.rtf"));
}

// A read-only instance finds no key to create (it may not write) and goes on all the same.
TEST_F(StartupStore, PendingAutosaveInAReadOnlyInstanceWritesNothing)
{
    NoteStore second(lock);
    QString z = zhu, b = bei;
    second.Connect_to_db(z, b, dialogs);
    ASSERT_TRUE(second.read_only());
    EXPECT_EQ(pending_autosave(second, run).note_id, -1);
    EXPECT_EQ(key("tmp_file1"), QString());
}

TEST_F(StoreTest, DeferredStepWithoutDatabaseAsksForSettings)
{
    NoteStore store(lock);
    RunSettings run;
    const DeferredStepResult r = deferred_settings_step(store, run);
    EXPECT_TRUE(r.show_settings);
    EXPECT_FALSE(run.webdav_qdxz);
}

TEST_F(StartupStore, CloseCancelKeepsEverything)
{
    OpenNoteState note;
    note.noteId_bei = 7;
    TempFolder::write(autosave_path(run.tmp_save, 7), "x");
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','7')"));
    store.set_changed(true);
    bool exit_ran = false;
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::Cancel);
    EXPECT_FALSE(close_request(store, run, note, true, dialogs, {nullptr, [&] { exit_ran = true; }}));
    EXPECT_FALSE(exit_ran);
    EXPECT_TRUE(QFile::exists(autosave_path(run.tmp_save, 7)));
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("7"));
    EXPECT_EQ(key("last_time"), QString());
}

TEST_F(StartupStore, CloseNoDeletesAutosaveAndResetsKey)
{
    OpenNoteState note;
    note.noteId_bei = 7;
    TempFolder::write(autosave_path(run.tmp_save, 7), "x");
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','7')"));
    store.set_changed(false); // the set-up is no write of the run
    bool saved = false, exit_ran = false;
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::No);
    EXPECT_TRUE(
        close_request(store, run, note, true, dialogs, {[&] { return saved = true; }, [&] { exit_ran = true; }}));
    EXPECT_FALSE(saved);
    EXPECT_TRUE(exit_ran);
    EXPECT_FALSE(QFile::exists(autosave_path(run.tmp_save, 7)));
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("000"));
    EXPECT_EQ(key("last_time"), QString()); // the run wrote nothing
    expect_mirror_identical(store);
}

TEST_F(StartupStore, CloseYesSavesAndStampsAfterAWrite)
{
    OpenNoteState note;
    bool saved = false;
    store.set_changed(true);
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::Yes);
    EXPECT_TRUE(close_request(store, run, note, true, dialogs,
                              {[&] { return saved = true; }, nullptr, [] { return qint64(1700000000); }}));
    EXPECT_TRUE(saved);
    EXPECT_EQ(key("last_time"), QStringLiteral("1700000000"));
    // A second stamp updates the same row.
    EXPECT_TRUE(close_request(store, run, note, false, dialogs, {nullptr, nullptr, [] { return qint64(1700000100); }}));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='last_time'")), 1);
    EXPECT_EQ(key("last_time"), QStringLiteral("1700000100"));
    expect_mirror_identical(store);
}

// A save that fails or leaves the note unsaved keeps the window open; the autosave key goes on
// naming the autosave file, and nothing of the exit runs.
TEST_F(StartupStore, CloseYesWhoseSaveFailsKeepsWindowAndAutosave)
{
    struct Case {
        const char *name;
        std::function<bool()> save;
        QString error; // shown when the save throws
    };
    const Case cases[] = {
        {"throws", []() -> bool { throw DbError(std::string("database is locked")); },
         QStringLiteral("database is locked")},
        {"still unsaved", [] { return false; }, QString()},
        {"no save action", nullptr, QString()},
    };
    OpenNoteState note;
    note.noteId_bei = 7;
    TempFolder::write(autosave_path(run.tmp_save, 7), "x");
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','7')"));
    store.set_changed(true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bool exit_ran = false;
        dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::Yes);
        if (!c.error.isEmpty())
            dialogs.expect_error(c.error);
        EXPECT_FALSE(close_request(store, run, note, true, dialogs, {c.save, [&] { exit_ran = true; }}));
        dialogs.verify_done();
        EXPECT_FALSE(exit_ran);
        EXPECT_TRUE(QFile::exists(autosave_path(run.tmp_save, 7)));
        EXPECT_EQ(key("tmp_file1"), QStringLiteral("7"));
        EXPECT_EQ(key("last_time"), QString());
    }
}

// Without network the deferred step (and its recovery) did not run: the autosave file of the
// last run is still pending, and the exit must not forget it.
TEST_F(StartupStore, CloseKeepsTheKeyOfAnAutosaveNeverRecovered)
{
    TempFolder::write(autosave_path(run.tmp_save, 7), "{\\rtf1 unsaved}");
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','7')"));
    EXPECT_TRUE(close_request(store, run, OpenNoteState(), false, dialogs, {}));
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("7"));
    EXPECT_TRUE(QFile::exists(autosave_path(run.tmp_save, 7)));

    QFile::remove(autosave_path(run.tmp_save, 7)); // recovered and saved meanwhile
    EXPECT_TRUE(close_request(store, run, OpenNoteState(), false, dialogs, {}));
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("000"));
}

TEST_F(StartupStore, ReadOnlyInstanceLeavesAutosaveKeyAlone)
{
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','9')"));
    NoteStore second(lock);
    QString z = zhu, b = bei;
    second.Connect_to_db(z, b, dialogs);
    ASSERT_TRUE(second.read_only());
    RunSettings run2;
    EXPECT_TRUE(close_request(second, run2, OpenNoteState(), false, dialogs, {}));
    EXPECT_EQ(key("tmp_file1"), QStringLiteral("9"));
}

TEST(Startup, ExitMenuSwitches)
{
    RunSettings run;
    NoteStore store;
    run.dav_url = QStringLiteral("https://x/");
    run.dav_username = QStringLiteral("u");
    force_backup_at_exit(store, run);
    EXPECT_TRUE(store.changed());
    EXPECT_FALSE(run.webdav_tcbc); // no password: nothing forced
    run.dav_password = QStringLiteral("p");
    force_backup_at_exit(store, run);
    EXPECT_TRUE(run.webdav_tcbc);
    skip_backup_at_exit(run);
    EXPECT_TRUE(run.skip_exit_backup);
    EXPECT_TRUE(store.changed()); // the run wrote: the exit stamp must still be written
}

TEST(Startup, UnixNowIsLocalTimeReadAsUtc)
{
    const QDateTime local = QDateTime::currentDateTime();
    const qint64 expected = local.toSecsSinceEpoch() + local.offsetFromUtc();
    EXPECT_LE(std::abs(unix_now() - expected), 2);
}
