// Export of a major category into another database file and promotion of a backup file, against
// real database files: the exported file is opened as the main database of a store of its own.
#include "backup/export.h"
#include "crypto/text_cipher.h"
#include "platform/paths.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

const QString kMarker = QStringLiteral("@*crypt*");
const QString kCaption = QStringLiteral("工作's \"50%\"");
const QByteArray kRtf =
    QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0 SimSun;}}\\f0\\b \\'d6\\'d8\\'b5\\'e3\\b0\\par}");

QByteArray picture_bytes(int seed, int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 31) & 0xff);
    return b;
}

QByteArray encrypt_bytes(const QByteArray &plain, const QString &password)
{
    QByteArray in = plain;
    QBuffer src(&in);
    QBuffer dst;
    src.open(QIODevice::ReadOnly);
    dst.open(QIODevice::ReadWrite);
    encrypt_stream(src, password, dst);
    return dst.data();
}

QByteArray decrypt_bytes(const QByteArray &cipher, const QString &password)
{
    QByteArray in = cipher;
    QBuffer src(&in);
    QBuffer dst;
    src.open(QIODevice::ReadOnly);
    dst.open(QIODevice::ReadWrite);
    decrypt_stream(src, password, dst);
    return dst.data();
}

// One line per title row of a major category, ids replaced by what they point at, in list
// order: everything a user sees of the category.
QStringList category_rows(Connection &db, const QString &caption)
{
    QStringList out;
    const auto ids = db.query(QStringLiteral("select id from Class where caption=:a order by id"), {caption});
    for (const auto &idrow : ids) {
        const qint64 id = idrow.at(0).toLongLong();
        for (const auto &s :
             db.query(QStringLiteral("select px,caption from Section where classId=:a order by px,id"), {id}))
            out << QStringLiteral("section %1 %2").arg(s.at(0).toString(), s.at(1).toString());
        const auto titles = db.query(
            QStringLiteral(
                "select t.px,(select caption from Section where id=t.sectionId),t.isDel,t.fast,t.isRtf,t.caption,"
                "n.label,n.cuanjian,n.put,n.content,typeof(n.content),hex(r.rtf),n.id "
                "from title t left join notes n on n.id=t.noteId left join rtffile r on r.noteId=t.noteId "
                "where t.classId=:a order by t.px,t.id"),
            {id});
        for (const auto &t : titles) {
            QStringList cells;
            for (int c = 0; c < 12; ++c)
                cells << t.at(c).toString();
            QStringList pics;
            for (const auto &p :
                 db.query(QStringLiteral("select hex(img) from picture where articleId=:a order by id"), {t.at(12)}))
                pics << p.at(0).toString();
            out << cells.join(QLatin1Char('|')) + QStringLiteral(" pictures:") + pics.join(QLatin1Char(','));
        }
    }
    return out;
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        program = dir.mkdir(QStringLiteral("program"));
        zhu = dir.mkdir(QStringLiteral("main"));
        bei = dir.mkdir(QStringLiteral("backup"));
        out = dir.mkdir(QStringLiteral("导出"));
        set_program_folder_override(program);
        connect_store(store, zhu, bei);
    }
    void TearDown() override { set_program_folder_override({}); }

    void connect_store(NoteStore &s, QString z, QString b)
    {
        ScriptedDialogs quiet;
        s.Connect_to_db(z, b, quiet);
    }

    void write(const QString &sql, const SqlParams &params = {}) { test::write_sql(store, sql, params); }

    qint64 add_class(const QString &caption, int px = 100)
    {
        write(QStringLiteral("insert into Class(px,caption) values(:a,:b)"), {px, caption});
        return store.main().last_insert_rowid();
    }
    qint64 add_section(qint64 class_id, const QString &caption, int px = 100)
    {
        write(QStringLiteral("insert into Section(px,classId,caption) values(:a,:b,:c)"), {px, class_id, caption});
        return store.main().last_insert_rowid();
    }
    // A note with fixed times; `content` may be text or bytes.
    qint64 add_note(qint64 class_id, qint64 section_id, const QString &caption, const QString &label,
                    const QVariant &content, int mode = 0, int fast = 0, int px = 100)
    {
        write(QStringLiteral("insert into notes(isDel,label,cuanjian,put,content) values(0,:a,'2024-01-02 "
                             "03:04:05','2025-06-07 08:09:10',:b)"),
              {label, content});
        const qint64 id = store.main().last_insert_rowid();
        write(QStringLiteral(
                  "insert into title(px,classId,sectionId,noteId,isDel,fast,caption) values(:a,:b,:c,:d,:e,:f,:g)"),
              {px, class_id, section_id, id, mode, fast, caption});
        return id;
    }
    void add_rtf(qint64 note, const QByteArray &rtf)
    {
        write(QStringLiteral("replace into rtffile(noteId,rtf) values(:a,:b)"), {note, rtf});
    }
    void add_picture(qint64 note, const QByteArray &img)
    {
        write(QStringLiteral("insert into picture(articleId,img) values(:a,:b)"), {note, img});
    }

    // The category to export: two minor categories and notes in the three modes, an RTF body,
    // pictures and a favourite; another category around it that must stay behind.
    void build_category()
    {
        const qint64 other = add_class(QStringLiteral("其他"));
        const qint64 other_section = add_section(other, QStringLiteral("其他小类"));
        add_note(other, other_section, QStringLiteral("不导出"), QStringLiteral("x"), QStringLiteral("留下"));

        cls = add_class(kCaption, 5);
        const qint64 a = add_section(cls, QStringLiteral("小类'A"), 3);
        const qint64 b = add_section(cls, QStringLiteral("小类B"), 0);

        const qint64 plain =
            add_note(cls, a, QStringLiteral("普通'笔记"), QStringLiteral("标签"), QStringLiteral("正文一"), 0, 0, 6);
        add_picture(plain, picture_bytes(1, 3000));

        const QString pw1 = QStringLiteral("密码1");
        const qint64 full = add_note(cls, a, encrypt_text(kMarker + QStringLiteral("秘密标题"), pw1),
                                     encrypt_text(QStringLiteral("秘密标签"), pw1),
                                     encrypt_text(QStringLiteral("秘密正文"), pw1), 1, 0, 3);
        add_rtf(full, encrypt_bytes(kRtf, pw1));
        add_picture(full, picture_bytes(2, 500));

        const QString pw2 = QStringLiteral("pw2");
        const qint64 body = add_note(cls, b, encrypt_text(kMarker, pw2) + QStringLiteral(":ppp半公开:ppp标题"),
                                     QStringLiteral("明文标签"), encrypt_text(QStringLiteral("正文二"), pw2), 2, 1, 0);
        Q_UNUSED(body);

        const qint64 rich = add_note(cls, b, QStringLiteral("带格式"), QString(),
                                     QByteArray("\xff\xfe"
                                                "A\0",
                                                4),
                                     0, 1, 9);
        add_rtf(rich, kRtf);
        add_picture(rich, picture_bytes(3, 70000));
        add_picture(rich, QByteArray());
    }

    // Everything the export must leave as it was.
    QString snapshot()
    {
        return test::dump_database(store.main()) + QStringLiteral("\n----\n") +
               test::dump_database(*test::open_backup(store));
    }

    void expect_store_unchanged(const QString &before)
    {
        EXPECT_EQ(store.backup_file(), database_file_in(bei));
        EXPECT_EQ(snapshot().toStdString(), before.toStdString());
        test::expect_mirror_identical(store);
        // Still usable: a mirrored write reaches both databases.
        write(QStringLiteral("insert into Class(px,caption) values(1,'之后')"));
        test::expect_mirror_identical(store);
    }

    // Runs the command through its dialogs up to the save dialog answering `path`.
    // With `succeeds`, the final message is expected too.
    bool run_export(const QString &path, QStringList *notices = nullptr, bool succeeds = false)
    {
        dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
            .expect_message(export_text::same_names())
            .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, path);
        if (succeeds)
            dialogs.expect_message(export_text::done());
        return export_command(store, dialogs, kCaption, [notices](const QString &t) {
            if (notices)
                notices->append(t);
        });
    }

    TempFolder dir;
    QString program, zhu, bei, out;
    NoteStore store{QStringLiteral("yunshan_note_export_test")};
    ScriptedDialogs dialogs;
    qint64 cls = 0;
};

TEST(IdMapTest, FirstRecordWinsAndMissingIsMinusOne)
{
    IdMap m;
    m.append(7, 1);
    m.append(3, 2);
    m.append(7, 9);
    EXPECT_EQ(m.lookup(7), 1);
    EXPECT_EQ(m.lookup(3), 2);
    EXPECT_EQ(m.lookup(4), -1);
    ASSERT_EQ(m.records().size(), 3);
    EXPECT_EQ(m.records().at(2).old1, 7);
    EXPECT_EQ(m.records().at(2).new1, 9);
}

TEST(ExportPathTest, DefaultExtension)
{
    EXPECT_EQ(export_target_path(QStringLiteral("/a/b")), QStringLiteral("/a/b.sl3"));
    EXPECT_EQ(export_target_path(QStringLiteral("/a/b.sl3")), QStringLiteral("/a/b.sl3"));
    EXPECT_EQ(export_target_path(QStringLiteral("/a/b.db")), QStringLiteral("/a/b.db"));
    EXPECT_EQ(export_target_path(QString()), QString());
}

TEST_F(ExportTest, NewFileOpensAsMainDatabaseWithEveryNoteReadable)
{
    build_category();
    const QString before = snapshot();
    const QStringList source = category_rows(store.main(), kCaption);
    QStringList notices;

    ASSERT_TRUE(run_export(QDir(out).filePath(QStringLiteral("notedb")), &notices, true));
    dialogs.verify_done();
    EXPECT_EQ(notices, (QStringList{QStringLiteral("创建数据库……"), QStringLiteral("创建小类表……"),
                                    QStringLiteral("导入笔记中，请等待……"), QStringLiteral("导入标题和图片，请等待……"),
                                    QString()}));
    expect_store_unchanged(before);

    // The exported file as the main database of a store of its own.
    NoteStore exported(QStringLiteral("yunshan_note_export_test_2"));
    connect_store(exported, out, QString());
    ASSERT_EQ(exported.status(), kMainOnly);
    Connection &db = exported.main();
    EXPECT_EQ(category_rows(db, kCaption), source);
    EXPECT_EQ(db.query(QStringLiteral("select px,caption from Class")),
              (QList<QList<SqlValue>>{{qint64(100), kCaption}}));
    // Opened as a main database it gains the settings table it lacked.
    EXPECT_EQ(exported.get_first_integer(
                  QStringLiteral("select count(*) from sqlite_master where type='table' and name not like 'sqlite%'")),
              8);
    EXPECT_EQ(exported.get_first_integer(
                  QStringLiteral("select count(*) from sqlite_master where type='index' and name not like 'sqlite%'")),
              3);
    EXPECT_EQ(exported.get_first_integer(QStringLiteral("select count(*) from sqlite_master where name='set_table'")),
              1);
    EXPECT_EQ(exported.get_first_integer(QStringLiteral("select count(*) from title where caption='不导出'")), 0);
    // Every title points at its own note and minor category of the new file.
    EXPECT_EQ(exported.get_first_integer(QStringLiteral(
                  "select count(*) from title t join notes n on n.id=t.noteId join Section s on s.id=t.sectionId "
                  "join Class c on c.id=t.classId and c.id=s.classId")),
              4);

    // The encrypted notes open with their passwords.
    const QString full_caption = exported.get_first_string(QStringLiteral("select caption from title where isDel=1"));
    const QString full_title = decrypt_text(full_caption, QStringLiteral("密码1"), TextForm::Utf16Le);
    EXPECT_EQ(full_title, kMarker + QStringLiteral("秘密标题"));
    EXPECT_EQ(decrypt_text(exported.get_first_string(QStringLiteral(
                               "select label from notes where id=(select noteId from title where isDel=1)")),
                           QStringLiteral("密码1"), TextForm::Utf16Le),
              QStringLiteral("秘密标签"));
    const QByteArray rtf =
        db.query_first(QStringLiteral("select rtf from rtffile where noteId=(select noteId from title where isDel=1)"))
            ->toByteArray();
    EXPECT_TRUE(decrypt_bytes(rtf, QStringLiteral("密码1")).startsWith(kRtf));
    const QString body_caption = exported.get_first_string(QStringLiteral("select caption from title where isDel=2"));
    EXPECT_EQ(
        decrypt_text(body_caption.section(QStringLiteral(":ppp"), 0, 0), QStringLiteral("pw2"), TextForm::Utf16Le),
        kMarker);
    EXPECT_EQ(decrypt_text(exported.get_first_string(QStringLiteral(
                               "select content from notes where id=(select noteId from title where isDel=2)")),
                           QStringLiteral("pw2"), TextForm::Utf16Le),
              QStringLiteral("正文二"));
    // The plain RTF note keeps its body and its pictures byte for byte.
    const auto rich = db.query(
        QStringLiteral("select r.rtf from title t join rtffile r on r.noteId=t.noteId where t.caption='带格式'"));
    ASSERT_EQ(rich.size(), 1);
    EXPECT_EQ(rich.at(0).at(0).toByteArray(), kRtf);
    EXPECT_EQ(
        db.query(QStringLiteral(
            "select img from picture where articleId=(select noteId from title where caption='带格式') order by id")),
        (QList<QList<SqlValue>>{{picture_bytes(3, 70000)}, {QByteArray()}}));
}

TEST_F(ExportTest, SecondExportIntoTheSameFileAddsAnotherCategory)
{
    build_category();
    const QString target = QDir(out).filePath(QStringLiteral("two.sl3"));
    ASSERT_TRUE(run_export(target, nullptr, true));
    const QString schema_once = test::dump_database_file(target).section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(run_export(target, nullptr, true));
    dialogs.verify_done();

    Connection db;
    db.open(target, false);
    EXPECT_EQ(db.query(QStringLiteral("select id,caption from Class order by id")),
              (QList<QList<SqlValue>>{{qint64(1), kCaption}, {qint64(2), kCaption}}));
    EXPECT_EQ(db.query_first(QStringLiteral("select count(*) from sqlite_master"))->toLongLong(),
              11); // 7 tables, 3 indexes, sqlite_sequence
    const QStringList rows = category_rows(db, kCaption);
    const QStringList source = category_rows(store.main(), kCaption);
    EXPECT_EQ(rows, source + source);
    EXPECT_EQ(db.query_first(QStringLiteral("select count(distinct sectionId) from title"))->toLongLong(), 4);
    EXPECT_EQ(test::dump_database_file(target).section(QLatin1Char('\n'), 0, 0), schema_once);
}

TEST_F(ExportTest, CategoryWithoutMinorCategoriesGivesJustItsRow)
{
    add_class(kCaption);
    const QString target = QDir(out).filePath(QStringLiteral("empty.sl3"));
    ASSERT_TRUE(run_export(target, nullptr, true));
    Connection db;
    db.open(target, false);
    EXPECT_EQ(db.query(QStringLiteral("select id,px,caption from Class")),
              (QList<QList<SqlValue>>{{qint64(1), qint64(100), kCaption}}));
    for (const char *table : {"Section", "title", "notes", "picture", "rtffile"})
        EXPECT_EQ(db.query_first(QStringLiteral("select count(*) from %1").arg(QLatin1String(table)))->toLongLong(), 0)
            << table;
}

TEST_F(ExportTest, ProgressEveryHundredRowsAndUnmappedIdsBecomeMinusOne)
{
    cls = add_class(kCaption);
    const qint64 section = add_section(cls, QStringLiteral("多"));
    write(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<250) "
                         "insert into notes(label,content,cuanjian,put) select 'l'||i,'c'||i,'2024-01-01 "
                         "00:00:00','2024-01-01 00:00:00' from n"));
    write(
        QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) select id,:a,:b,id,'t'||id from notes"),
        {cls, section});
    // A title whose minor category belongs elsewhere and one whose note row is gone.
    const qint64 foreign = add_section(add_class(QStringLiteral("别处")), QStringLiteral("别处小类"));
    write(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(999,:a,:b,1,'外')"),
          {cls, foreign});
    write(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(1000,:a,:b,99999,'孤')"),
          {cls, section});
    add_picture(99999, QByteArray("orphan"));

    QStringList notices;
    const QString target = QDir(out).filePath(QStringLiteral("many.sl3"));
    ASSERT_TRUE(run_export(target, &notices, true));
    EXPECT_EQ(notices.filter(QStringLiteral("已导入")),
              (QStringList{QStringLiteral("已导入笔记99，请等待……"), QStringLiteral("已导入笔记199，请等待……"),
                           QStringLiteral("已导入标题99，请等待……"), QStringLiteral("已导入标题199，请等待……")}));
    Connection db;
    db.open(target, false);
    EXPECT_EQ(db.query_first(QStringLiteral("select count(*) from notes"))->toLongLong(), 250);
    EXPECT_EQ(db.query(QStringLiteral("select sectionId,noteId from title where caption in ('外','孤') order by px")),
              (QList<QList<SqlValue>>{{qint64(-1), qint64(1)}, {qint64(1), qint64(-1)}}));
    EXPECT_EQ(db.query_first(QStringLiteral("select count(*) from picture"))->toLongLong(), 0);
}

TEST_F(ExportTest, RefusalsAndCancelsChangeNothing)
{
    build_category();
    const QString before = snapshot();
    const QString other_spelling = QDir(bei).filePath(QStringLiteral("../backup/notedb.sl3"));

    dialogs.expect_message(export_text::no_selection());
    EXPECT_FALSE(export_command(store, dialogs, QString()));
    dialogs.expect_message(export_text::unknown_category());
    EXPECT_FALSE(export_command(store, dialogs, QStringLiteral("已删除的大类")));
    dialogs.expect_question(export_text::ask(), Dialogs::Answer::No);
    EXPECT_FALSE(export_command(store, dialogs, kCaption));
    EXPECT_FALSE(run_export(QString())); // save dialog cancelled
    for (const QString &live : {database_file_in(zhu), other_spelling, QDir(zhu).filePath(QStringLiteral("notedb"))}) {
        dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
            .expect_message(export_text::same_names())
            .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, live)
            .expect_message(export_text::live_database());
        EXPECT_FALSE(export_command(store, dialogs, kCaption)) << live.toStdString();
    }
    dialogs.verify_done();
    expect_store_unchanged(before);
}

TEST_F(ExportTest, FailedCopiesLeaveDatabasesAndTargetAsTheyWere)
{
    build_category();
    const QString before = snapshot();

    // A file that is not a database.
    const QString garbage = QDir(out).filePath(QStringLiteral("garbage.sl3"));
    const QByteArray junk = QByteArray("this is not a database file, just text").repeated(200);
    TempFolder::write(garbage, junk);
    EXPECT_THROW(run_export(garbage), DbError);
    EXPECT_EQ(TempFolder::read(garbage), junk);

    // A folder that cannot take the file.
    const QString nowhere = QDir(out).filePath(QStringLiteral("没有这个文件夹/x.sl3"));
    EXPECT_THROW(run_export(nowhere), DbError);
    EXPECT_FALSE(QFileInfo::exists(nowhere));

    // A database whose title table lacks columns: the copy fails half-way and is rolled back.
    const QString old = QDir(out).filePath(QStringLiteral("old.sl3"));
    test::make_old_database(old);
    const QString old_before = test::dump_database_file(old);
    try {
        run_export(old);
        ADD_FAILURE() << "no error";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("fast"))) << e.what();
    }
    EXPECT_EQ(test::dump_database_file(old).toStdString(), old_before.toStdString());
    dialogs.verify_done();
    expect_store_unchanged(before);
}

TEST_F(ExportTest, FileCreatedForAFailedExportIsRemovedAgain)
{
    // A main database of an earlier version, not upgraded: its title rows have no `fast`.
    const QString old_folder = dir.mkdir(QStringLiteral("old"));
    test::make_old_database(database_file_in(old_folder));
    NoteStore old(QStringLiteral("yunshan_note_export_test_4"));
    connect_store(old, old_folder, QString());
    const QString target = QDir(out).filePath(QStringLiteral("new.sl3"));
    ScriptedDialogs d;
    d.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, target);
    EXPECT_THROW(export_command(old, d, QStringLiteral("旧大类")), DbError);
    d.verify_done();
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
    EXPECT_FALSE(old.backup_connected());
}

TEST_F(ExportTest, WritesDuringTheExportReachTheNotesDatabasesNotTheTarget)
{
    build_category();
    const QString target = QDir(out).filePath(QStringLiteral("m.sl3"));
    int writes = 0;
    const auto meddle = [&](const QString &) {
        if (writes++ == 1)
            write(QStringLiteral("insert into Class(px,caption) values(9,'中途')"));
    };
    dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, target)
        .expect_message(export_text::done());
    ASSERT_TRUE(export_command(store, dialogs, kCaption, meddle));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from Class where caption='中途'")), 1);
    test::expect_mirror_identical(store);
    Connection exported;
    exported.open_read_only(target);
    EXPECT_EQ(exported.query_first(QStringLiteral("select group_concat(caption) from Class"))->toString(), kCaption);
}

TEST_F(ExportTest, WithoutBackupTheConnectionStaysClosedAfterwards)
{
    NoteStore alone(QStringLiteral("yunshan_note_export_test_3"));
    connect_store(alone, dir.mkdir(QStringLiteral("solo")), QString());
    test::write_sql(alone, QStringLiteral("insert into Section(classId,caption) values(1,'小')"));
    ScriptedDialogs d;
    d.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes,
                QDir(out).filePath(QStringLiteral("s.sl3")))
        .expect_message(export_text::done());
    ASSERT_TRUE(export_command(alone, d, QStringLiteral("默认大类")));
    EXPECT_FALSE(alone.backup_connected());
    EXPECT_EQ(alone.status(), kMainOnly);
    EXPECT_EQ(test::write_sql(alone, QStringLiteral("insert into Class(caption) values('后')")), 1);
}

// ---- Promotion ----

class PromoteTest : public ExportTest {
  protected:
    // A dated copy in the backup folder, different from the live databases.
    QString make_dated_copy()
    {
        build_category();
        const QString dated = QDir(bei).filePath(QStringLiteral("buckup__20250102.sl3"));
        store.main().execute(QStringLiteral("vacuum into :a"), {dated});
        Connection c;
        c.open(dated, false);
        c.execute(QStringLiteral("insert into Class(caption) values('备份里才有')"));
        return dated;
    }
    QByteArray main_bytes() const { return TempFolder::read(database_file_in(zhu)); }
    QByteArray backup_bytes() const { return TempFolder::read(database_file_in(bei)); }
    bool promote(ScriptedDialogs &d) { return promote_backup_command(store, zhu, bei, d); }
};

TEST_F(PromoteTest, DatedCopyBecomesBothDatabases)
{
    const QString dated = make_dated_copy();
    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, dated)
        .expect_question(promote_text::ask(), Dialogs::Answer::Yes)
        .expect_message(promote_text::done());
    ASSERT_TRUE(promote(dialogs));
    dialogs.verify_done();
    const QByteArray copy = TempFolder::read(dated);
    EXPECT_EQ(main_bytes(), copy);
    EXPECT_EQ(backup_bytes(), copy);
    EXPECT_EQ(store.status(), kMainAndBackup);
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from Class where caption='备份里才有'")), 1);
    test::expect_mirror_identical(store);
    EXPECT_TRUE(QDir(zhu).entryList(QDir::Files) == QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(PromoteTest, RefusalsAndCancelsReplaceNothing)
{
    const QString dated = make_dated_copy();
    const QByteArray m = main_bytes(), b = backup_bytes();
    const QString junk = QDir(bei).filePath(QStringLiteral("buckup__20250103.sl3"));
    TempFolder::write(junk, QByteArray("not a database").repeated(100));
    const QString no_notes = QDir(bei).filePath(QStringLiteral("other.sl3"));
    Connection c;
    c.open(no_notes);
    c.execute(QStringLiteral("create table x(y)"));
    c.close();

    QString none;
    dialogs.expect_message(promote_text::no_backup_folder());
    EXPECT_FALSE(promote_backup_command(store, zhu, none, dialogs));
    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, QString());
    EXPECT_FALSE(promote(dialogs));
    {
        // A second instance runs read-only beside this one.
        NoteStore second(QStringLiteral("yunshan_note_export_test"));
        QString z2 = zhu, b2 = bei;
        ScriptedDialogs quiet;
        second.Connect_to_db(z2, b2, quiet);
        ASSERT_TRUE(second.read_only());
        dialogs.expect_message(promote_text::read_only());
        EXPECT_FALSE(promote_backup_command(second, z2, b2, dialogs));
    }
    for (const QString &live :
         {database_file_in(zhu), database_file_in(bei), QDir(zhu).filePath(QStringLiteral("../main/notedb.sl3"))}) {
        dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, live)
            .expect_message(promote_text::live_database());
        EXPECT_FALSE(promote(dialogs)) << live.toStdString();
    }
    for (const QString &bad : {junk, no_notes, QDir(bei).filePath(QStringLiteral("missing.sl3"))}) {
        dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, bad)
            .expect_message(promote_text::not_a_database());
        EXPECT_FALSE(promote(dialogs)) << bad.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(bei).filePath(QStringLiteral("missing.sl3"))));
    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, dated)
        .expect_question(promote_text::ask(), Dialogs::Answer::No);
    EXPECT_FALSE(promote(dialogs));
    dialogs.verify_done();
    EXPECT_EQ(main_bytes(), m);
    EXPECT_EQ(backup_bytes(), b);
    EXPECT_EQ(store.status(), kMainAndBackup);
    test::expect_mirror_identical(store);
}

TEST_F(PromoteTest, CopyThatCannotBeCompletedReplacesNeither)
{
    const QString dated = make_dated_copy();
    const QByteArray m = main_bytes();
    // The backup folder now names a place that cannot take the copy.
    QString gone = QDir(dir.path()).filePath(QStringLiteral("不存在"));
    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, dated)
        .expect_question(promote_text::ask(), Dialogs::Answer::Yes);
    EXPECT_THROW(promote_backup_command(store, zhu, gone, dialogs), std::runtime_error);
    dialogs.verify_done();
    EXPECT_EQ(main_bytes(), m);
    EXPECT_EQ(QDir(zhu).entryList(QDir::Files), QStringList{QStringLiteral("notedb.sl3")});
    EXPECT_EQ(store.status(), kMainAndBackup);
    test::expect_mirror_identical(store);
}

} // namespace
} // namespace yunshan
