#include "sync/content_hash.h"
#include "sync/fingerprints.h"

#include "support/temp_folder.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <functional>

#include <sys/stat.h>

using namespace yunshan;
using namespace yunshan::sync;
using namespace yunshan::test;

namespace {

quint64 hash_of(const char *text)
{
    return content_hash(text, std::strlen(text));
}

// The published check values of the construction: a machine or compiler that computes anything
// else would make every saved fingerprint look changed.
TEST(ContentHash, GivesTheConstructionsCheckValues)
{
    EXPECT_EQ(hash_of(""), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(hash_of("a"), 0xD24EC4F1A98C6E5Bull);
    EXPECT_EQ(hash_of("abc"), 0x44BC2CF5AD770999ull);
    // Long enough for the 32-byte rounds, with a tail.
    EXPECT_EQ(hash_of("Nobody inspects the spammish repetition"), 0xFBCEA83C8A378BF1ull);
}

TEST(ContentHash, FieldsKeepTheirBoundariesAndKinds)
{
    const auto fields = [](const std::function<void(FieldHasher &)> &fill) {
        FieldHasher h;
        fill(h);
        return h.value();
    };
    const quint64 ab_empty = fields([](FieldHasher &h) {
        h.add_bytes(QByteArrayLiteral("ab"));
        h.add_bytes(QByteArray());
    });
    const quint64 a_b = fields([](FieldHasher &h) {
        h.add_bytes(QByteArrayLiteral("a"));
        h.add_bytes(QByteArrayLiteral("b"));
    });
    const quint64 null = fields([](FieldHasher &h) { h.add_null(); });
    const quint64 empty = fields([](FieldHasher &h) { h.add_bytes(QByteArray()); });
    const quint64 number = fields([](FieldHasher &h) { h.add_integer(0x3837363534333231); });
    const quint64 digits = fields([](FieldHasher &h) { h.add_bytes(QByteArrayLiteral("12345678")); });
    EXPECT_NE(ab_empty, a_b);
    EXPECT_NE(null, empty);
    EXPECT_NE(number, digits);
    // Saved fingerprints hold these values: they must not change between versions.
    EXPECT_EQ(a_b, 0x5D869636AD6E4C6Eull);
}

class FingerprintTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        NotesFile f(path);
        major = f.major(QStringLiteral("工作"));
        minor = f.minor(major, QStringLiteral("会议"));
        other_minor = f.minor(major, QStringLiteral("项目"));
        note = f.note(minor, QStringLiteral("周会"), QStringLiteral("标签"), QStringLiteral("正文"),
                      QByteArrayLiteral("{\\rtf1 正文}"));
        picture = f.picture(note, QByteArrayLiteral("\x89PNG one"));
        f.setting(QStringLiteral("webDAV网址"), QStringLiteral("https://dav.example/"));
    }

    TempFolder dir;
    QString path = dir.file(QStringLiteral("notedb.sl3"));
    qint64 major = 0, minor = 0, other_minor = 0, note = 0, picture = 0;
};

// Each kind of edit shows in its own part of the fingerprints and nowhere else.
TEST_F(FingerprintTest, EachEditChangesOnlyItsPart)
{
    struct Case {
        const char *what;
        QString sql;
        std::function<void(NotePrint &)> note_change; // what the note's print should become
    };
    const QString n = QString::number(note);
    const std::vector<Case> cases = {
        {"caption", QStringLiteral("update title set caption='改名' where noteId=") + n,
         [](NotePrint &p) { p.title = 0; }},
        {"encryption mode", QStringLiteral("update title set isDel=2 where noteId=") + n,
         [](NotePrint &p) { p.title = 0; }},
        {"order", QStringLiteral("update title set px=px+3 where noteId=") + n, [](NotePrint &p) { p.px += 3; }},
        {"favourite", QStringLiteral("update title set fast=1 where noteId=") + n, [](NotePrint &p) { p.fast = 1; }},
        {"place", QStringLiteral("update title set sectionId=%1 where noteId=%2").arg(other_minor).arg(note),
         [&](NotePrint &p) { p.section_id = other_minor; }},
        {"tag line", QStringLiteral("update notes set label='新标签' where id=") + n,
         [](NotePrint &p) { p.notes = 0; }},
        {"plain text", QStringLiteral("update notes set content='新正文' where id=") + n,
         [](NotePrint &p) { p.notes = 0; }},
        {"save time", QStringLiteral("update notes set put='2030-01-01 00:00:00' where id=") + n,
         [](NotePrint &p) { p.put = 0; }},
        {"rtf body", QStringLiteral("update rtffile set rtf=x'7b5c727466317d' where noteId=") + n,
         [](NotePrint &p) { p.rtf = 0; }},
        {"rtf body removed", QStringLiteral("delete from rtffile where noteId=") + n,
         [](NotePrint &p) {
             p.has_rtf = false;
             p.rtf = 0;
         }},
    };
    const Fingerprints before = compute_fingerprints(path);
    ASSERT_EQ(before.notes.size(), 1u);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString copy = dir.file(QStringLiteral("copy.sl3"));
        copy_file(path, copy);
        {
            NotesFile f(copy);
            f.run(c.sql);
        }
        const Fingerprints after = compute_fingerprints(copy);
        NotePrint expected = before.notes[0];
        NotePrint got = after.notes[0];
        c.note_change(expected);
        // Hash parts that were to change are compared as "changed": zero them on both sides.
        for (quint64 NotePrint::*part : {&NotePrint::title, &NotePrint::notes, &NotePrint::put, &NotePrint::rtf}) {
            if (expected.*part == 0 && (before.notes[0].*part != 0)) {
                EXPECT_NE(got.*part, before.notes[0].*part);
                got.*part = 0;
            }
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(after.majors, before.majors);
        EXPECT_EQ(after.minors, before.minors);
        EXPECT_EQ(after.pictures, before.pictures);
        EXPECT_EQ(after.settings, before.settings);
    }
}

TEST_F(FingerprintTest, PicturesSettingsAndCategoriesHaveTheirOwnRows)
{
    const Fingerprints before = compute_fingerprints(path);
    ASSERT_EQ(before.pictures.size(), 1u);
    EXPECT_EQ(before.pictures[0].note_id, note);
    {
        NotesFile f(path);
        f.picture(note, QByteArrayLiteral("\x89PNG two"));
        f.setting(QStringLiteral("webDAV网址"), QStringLiteral("https://other.example/"));
        f.run(QStringLiteral("update Section set caption='例会' where id=?1"), {minor});
    }
    const Fingerprints after = compute_fingerprints(path);
    EXPECT_EQ(after.notes, before.notes);
    EXPECT_EQ(after.majors, before.majors);
    ASSERT_EQ(after.pictures.size(), 2u);
    EXPECT_EQ(after.pictures[0], before.pictures[0]);
    EXPECT_NE(after.settings, before.settings);
    EXPECT_EQ(after.minor(other_minor)->caption, before.minor(other_minor)->caption);
    EXPECT_NE(after.minor(minor)->caption, before.minor(minor)->caption);
    EXPECT_EQ(after.sequence(QStringLiteral("picture")), 2);
}

// Another machine's copy of the same rows, even with the pages laid out anew, has the same
// fingerprints.
TEST_F(FingerprintTest, SameRowsGiveSameFingerprintsWhateverTheFileLayout)
{
    const QString copy = dir.file(QStringLiteral("copy.sl3"));
    copy_file(path, copy);
    {
        NotesFile f(copy);
        f.run(QStringLiteral("PRAGMA page_size=8192"));
        f.run(QStringLiteral("VACUUM"));
    }
    EXPECT_NE(TempFolder::read(copy), TempFolder::read(path));
    EXPECT_TRUE(compute_fingerprints(copy) == compute_fingerprints(path));
}

TEST_F(FingerprintTest, SavedFileIsPrivateAndLoadsBackWithTheCallersValues)
{
    Fingerprints prints = compute_fingerprints(path);
    prints.meta.insert(QStringLiteral("size"), QStringLiteral("123456"));
    prints.meta.insert(QStringLiteral("etag"), QStringLiteral("\"abc\""));
    const QString file = dir.file(QStringLiteral("sync.prints"));
    TempFolder::write(file, "an older save");
    save_fingerprints(prints, file);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".part")));
    QString why = QStringLiteral("unset");
    const auto loaded = load_fingerprints(file, &why);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(why.isEmpty());
    EXPECT_TRUE(*loaded == prints);
}

TEST_F(FingerprintTest, UnusableFilesLoadAsNothingWithTheReason)
{
    QString why = QStringLiteral("unset");
    EXPECT_FALSE(load_fingerprints(dir.file(QStringLiteral("missing.prints")), &why));
    EXPECT_EQ(why, QString());

    const QString garbage = dir.file(QStringLiteral("garbage.prints"));
    TempFolder::write(garbage, QByteArray(4096, 'x'));
    EXPECT_FALSE(load_fingerprints(garbage, &why));
    EXPECT_EQ(why,
              QStringLiteral("同步记录“%1”无法使用：不是数据库文件，或已损坏（file is not a database）").arg(garbage));

    const QString other = dir.file(QStringLiteral("other.prints"));
    save_fingerprints(compute_fingerprints(path), other);
    {
        Connection c;
        c.open(other);
        c.execute(QStringLiteral("update header set value='2' where key='format'"));
    }
    EXPECT_FALSE(load_fingerprints(other, &why));
    EXPECT_EQ(why, QStringLiteral("同步记录“%1”无法使用：格式 2/xxh64-fields-1 不是本程序所写").arg(other));
}

TEST_F(FingerprintTest, OtherFilesAreRefusedWithTheirName)
{
    const QString foreign = dir.file(QStringLiteral("foreign.sl3"));
    {
        Connection c;
        c.open(foreign);
        c.execute(QStringLiteral("create table Class (id integer primary key, px, caption)"));
    }
    try {
        compute_fingerprints(foreign);
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("“%1”不是笔记数据库：没有表 section。").arg(foreign));
    }
    const QString old = dir.file(QStringLiteral("old.sl3"));
    {
        Connection c;
        c.open(old);
        for (const char *sql :
             {"CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT)",
              "CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER,classId INTEGER,caption TEXT)",
              "CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER,classId INTEGER,sectionId "
              "INTEGER,noteId INTEGER,isDel INTEGER,isRtf INTEGER,caption TEXT)",
              "CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER,label TEXT,cuanjian "
              "TIMESTAMP,put TIMESTAMP,content TEXT)",
              "CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB)",
              "CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB)"})
            c.execute(QString::fromLatin1(sql));
    }
    try {
        compute_fingerprints(old);
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_EQ(
            e.message(),
            QStringLiteral("数据库“%1”是旧版本的表结构（title 表缺少新增的列），请先用本程序打开一次。").arg(old));
    }
    try {
        compute_fingerprints(dir.file(QStringLiteral("missing.sl3")));
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_TRUE(
            e.message().startsWith(QStringLiteral("无法读取数据库“%1”：").arg(dir.file(QStringLiteral("missing.sl3")))))
            << e.message().toStdString();
    }
}

} // namespace
