// The merge's rules, one case each: a base database, the edits of this machine and of the
// share, the counts of the report and what the merged file holds.
#include "sync/merge.h"

#include "support/temp_folder.h"
#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <functional>

using namespace yunshan;
using namespace yunshan::sync;
using namespace yunshan::test;

namespace {

// Ids of the base database.
constexpr qint64 kWork = 2, kLife = 3;                        // majors (1 is the default one)
constexpr qint64 kMeeting = 1, kProject = 2, kDiary = 3;      // minors: 会议, 项目 in 工作; 日记 in 生活
constexpr qint64 kWeekly = 1, kPlan = 2, kTrip = 3, kKey = 4; // notes; 3 body-only and 4 fully encrypted

const QByteArray kRtf = QByteArrayLiteral("{\\rtf1\\ansi 议程}");
const QByteArray kPicture = QByteArrayLiteral("\x89PNG weekly");
const QString kTripCaption = QStringLiteral("0F1E2D3C4B5A69788796A5B4C3D2E1F0:ppp旅行");
const QString kKeyCaption = QStringLiteral("00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF");

const QString kCopyMark = QStringLiteral("（冲突副本 2025-03-04 05:06）");
const QString kRenameMark = QStringLiteral("（冲突 2025-03-04 05:06）");

void make_base(const QString &path)
{
    NotesFile f(path);
    f.major(QStringLiteral("工作"));
    f.major(QStringLiteral("生活"));
    f.minor(kWork, QStringLiteral("会议"));
    f.minor(kWork, QStringLiteral("项目"));
    f.minor(kLife, QStringLiteral("日记"));
    f.note(kMeeting, QStringLiteral("周会"), QStringLiteral("例会"), QStringLiteral("议程"), kRtf);
    f.note(kProject, QStringLiteral("计划"), QStringLiteral("季度"), QStringLiteral("三件事"));
    f.note(kDiary, QStringLiteral("placeholder"), QString(), QStringLiteral("A1B2C3"), QByteArrayLiteral("\x01\x02"));
    f.note(kDiary, QStringLiteral("placeholder"), QStringLiteral("CAFE"), QStringLiteral("D4E5F6"),
           QByteArrayLiteral("\x03\x04"));
    f.run(QStringLiteral("update title set isDel=2, caption=?1 where noteId=?2"), {kTripCaption, kTrip});
    f.run(QStringLiteral("update title set isDel=1, caption=?1 where noteId=?2"), {kKeyCaption, kKey});
    f.picture(kWeekly, kPicture);
    f.setting(QStringLiteral("tmp_file1"), QStringLiteral("000"));
    f.setting(QStringLiteral("webDAV网址"), QStringLiteral("https://a.example/"));
    f.setting(QStringLiteral("last_time"), QStringLiteral("100"));
    f.setting(QStringLiteral("yz_generation"), QStringLiteral("7"));
    f.setting(QStringLiteral("启动从网盘同步"), QStringLiteral("1"));
}

struct Counts {
    int applied = 0, copies = 0, unmarked = 0, kept = 0, renumbered = 0, renamed = 0;
};

// What a check sees: the merged file, this machine's file, the share's file before the merge,
// and the report.
struct Seen {
    Connection &merged;
    Connection &local;
    Connection &share;
    const MergeReport &report;
};

struct RuleCase {
    const char *name;
    std::function<void(NotesFile &)> local;
    std::function<void(NotesFile &)> share;
    Counts counts;
    std::function<void(Seen &)> check;
};

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.name;
}

NoteView view(Connection &db, qint64 id)
{
    auto v = read_note(db, id);
    if (!v)
        ADD_FAILURE() << "note " << id << " is missing";
    return v.value_or(NoteView{});
}

QString setting(Connection &db, const QString &key)
{
    const auto rows = db.query(QStringLiteral("select value1 from set_table where key1=?1"), {key});
    return rows.size() == 1 ? rows[0][0].toString() : QStringLiteral("<%1 rows>").arg(rows.size());
}

QString caption(Connection &db, bool major, qint64 id)
{
    return db
        .query_first(major ? QStringLiteral("select caption from Class where id=?1")
                           : QStringLiteral("select caption from Section where id=?1"),
                     {id})
        .value_or(QStringLiteral("<none>"))
        .toString();
}

void rename_note(NotesFile &f, qint64 id, const QString &caption)
{
    f.run(QStringLiteral("update title set caption=?1 where noteId=?2"), {caption, id});
}

const std::vector<RuleCase> &rule_cases()
{
    static const std::vector<RuleCase> cases = {
        {"NothingChanged", {}, {}, {}, [](Seen &) {}},
        {"TitleChangedHere",
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         {},
         {1},
         [](Seen &s) {
             NoteView expected = view(s.share, kWeekly);
             expected.caption = QStringLiteral("周会纪要");
             EXPECT_EQ(view(s.merged, kWeekly), expected);
         }},
        {"TitleChangedOnTheShare",
         {},
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         {},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly)); }},
        {"TitleHereAndBodyOnTheShareCombine",
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("新议程"), QByteArrayLiteral("{\\rtf1 新}"));
         },
         {1},
         [](Seen &s) {
             NoteView expected = view(s.share, kWeekly);
             expected.caption = QStringLiteral("周会纪要");
             EXPECT_EQ(view(s.merged, kWeekly), expected);
         }},
        {"BodyChangedOnBothSidesMakesACopy",
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("本机正文"), QByteArrayLiteral("{\\rtf1 L}"),
                         QStringLiteral("2025-02-01 10:00:00"));
         },
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("网盘正文"), QByteArrayLiteral("{\\rtf1 S}"),
                         QStringLiteral("2025-02-02 10:00:00"));
         },
         {0, 1},
         [](Seen &s) {
             EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly));
             ASSERT_EQ(s.report.copy_ids.size(), 1);
             NoteView expected = view(s.local, kWeekly);
             expected.id = s.report.copy_ids[0];
             expected.caption = QStringLiteral("周会") + kCopyMark;
             expected.fast = 0;
             EXPECT_EQ(view(s.merged, s.report.copy_ids[0]), expected);
             EXPECT_EQ(expected.pictures, QList<QByteArray>{kPicture});
         }},
        {"SameBodySavedOnBothSidesIsNoConflict",
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("同一正文"), QByteArrayLiteral("{\\rtf1 X}"),
                         QStringLiteral("2025-02-01 10:00:00"));
         },
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("同一正文"), QByteArrayLiteral("{\\rtf1 X}"),
                         QStringLiteral("2025-02-02 10:00:00"));
         },
         {},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly)); }},
        {"TagHereAndBodyOnTheShareShareOneRow",
         [](NotesFile &f) { f.save_body(kWeekly, QStringLiteral("新标签"), QStringLiteral("议程"), kRtf); },
         [](NotesFile &f) {
             f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("网盘正文"), QByteArrayLiteral("{\\rtf1 S}"));
         },
         {0, 1},
         [](Seen &s) {
             EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly));
             ASSERT_EQ(s.report.copy_ids.size(), 1);
             EXPECT_EQ(view(s.merged, s.report.copy_ids[0]).label, QStringLiteral("新标签"));
         }},
        {"EncryptedWithTitleCopyKeepsItsStoredCaption",
         [](NotesFile &f) {
             f.run(QStringLiteral("update title set caption=?1 where noteId=?2"),
                   {QStringLiteral("AB").repeated(32), kKey});
             f.save_body(kKey, QStringLiteral("BEEF"), QStringLiteral("A1A1A1"), QByteArrayLiteral("\x05\x06"));
         },
         [](NotesFile &f) {
             f.save_body(kKey, QStringLiteral("CAFE"), QStringLiteral("B2B2B2"), QByteArrayLiteral("\x07"));
         },
         {0, 1, 1},
         [](Seen &s) {
             EXPECT_EQ(view(s.merged, kKey), view(s.share, kKey));
             ASSERT_EQ(s.report.copy_ids.size(), 1);
             NoteView expected = view(s.local, kKey);
             expected.id = s.report.copy_ids[0];
             EXPECT_EQ(view(s.merged, s.report.copy_ids[0]), expected);
             EXPECT_EQ(expected.caption, QStringLiteral("AB").repeated(32));
             EXPECT_EQ(expected.is_del, 1);
         }},
        {"BodyOnlyEncryptedCopyIsMarkedAfterItsPlainTitle",
         [](NotesFile &f) { f.save_body(kTrip, QString(), QStringLiteral("A1A1A1"), QByteArrayLiteral("\x05")); },
         [](NotesFile &f) { f.save_body(kTrip, QString(), QStringLiteral("B2B2B2"), QByteArrayLiteral("\x06")); },
         {0, 1},
         [](Seen &s) {
             ASSERT_EQ(s.report.copy_ids.size(), 1);
             const NoteView copy = view(s.merged, s.report.copy_ids[0]);
             EXPECT_EQ(copy.caption, kTripCaption + kCopyMark);
             EXPECT_EQ(copy.is_del, 2);
             EXPECT_EQ(copy.content, QStringLiteral("A1A1A1"));
             EXPECT_EQ(copy.section_id, kDiary);
         }},
        {"OrderFavouriteAndPlaceMergeFieldByField",
         [](NotesFile &f) {
             f.run(QStringLiteral("update title set px=7 where noteId=?1"), {kWeekly});
             f.run(QStringLiteral("update title set px=0 where noteId=?1"), {kTrip});
             f.run(QStringLiteral("update title set fast=1, classId=?1, sectionId=?2 where noteId=?3"),
                   {kLife, kDiary, kPlan});
         },
         [](NotesFile &f) {
             f.run(QStringLiteral("update title set px=9 where noteId=?1"), {kWeekly});
             rename_note(f, kPlan, QStringLiteral("年度计划"));
         },
         {2},
         [](Seen &s) {
             EXPECT_EQ(view(s.merged, kWeekly).px, 9);
             EXPECT_EQ(view(s.merged, kTrip).px, 0);
             NoteView plan = view(s.share, kPlan);
             plan.fast = 1;
             plan.class_id = kLife;
             plan.section_id = kDiary;
             EXPECT_EQ(view(s.merged, kPlan), plan);
         }},
        {"MovedOnBothSidesGoesWhereTheShareMovedIt",
         [](NotesFile &f) {
             f.run(QStringLiteral("update title set classId=?1, sectionId=?2 where noteId=?3"),
                   {kWork, kProject, kWeekly});
         },
         [](NotesFile &f) {
             f.run(QStringLiteral("update title set classId=?1, sectionId=?2 where noteId=?3"),
                   {kLife, kDiary, kWeekly});
         },
         {},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly)); }},
        {"DeletedHereAndUnchangedOnTheShareGoesItsPicturesStay",
         [](NotesFile &f) { f.delete_note(kWeekly); },
         {},
         {1},
         [](Seen &s) {
             EXPECT_FALSE(read_note(s.merged, kWeekly));
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select articleId from picture"))->toLongLong(), kWeekly);
         }},
        {"DeletedHereAndChangedOnTheShareIsKept",
         [](NotesFile &f) { f.delete_note(kWeekly); },
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         {0, 0, 0, 1},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kWeekly), view(s.share, kWeekly)); }},
        {"ChangedHereAndDeletedOnTheShareIsKept",
         [](NotesFile &f) { f.save_body(kPlan, QStringLiteral("季度"), QStringLiteral("四件事"), QByteArray()); },
         [](NotesFile &f) { f.delete_note(kPlan); },
         {0, 0, 0, 1},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kPlan), view(s.local, kPlan)); }},
        {"FavouriteHereKeepsANoteDeletedOnTheShare",
         [](NotesFile &f) { f.run(QStringLiteral("update title set fast=1 where noteId=?1"), {kPlan}); },
         [](NotesFile &f) { f.delete_note(kPlan); },
         {0, 0, 0, 1},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kPlan), view(s.local, kPlan)); }},
        {"PictureAddedHereKeepsANoteDeletedOnTheShare",
         [](NotesFile &f) { f.picture(kPlan, QByteArrayLiteral("\x89PNG plan")); },
         [](NotesFile &f) { f.delete_note(kPlan); },
         {1, 0, 0, 1},
         [](Seen &s) { EXPECT_EQ(view(s.merged, kPlan), view(s.local, kPlan)); }},
        {"NotesNewOnBothSidesGetDistinctIds",
         [](NotesFile &f) {
             const qint64 id = f.note(kDiary, QStringLiteral("本机新"), QStringLiteral("新"), QStringLiteral("本机"));
             f.picture(id, QByteArrayLiteral("\x89PNG local"));
         },
         [](NotesFile &f) {
             const qint64 id = f.note(kMeeting, QStringLiteral("网盘新"), QString(), QStringLiteral("网盘"));
             f.picture(id, QByteArrayLiteral("\x89PNG share"));
         },
         {2, 0, 0, 0, 2},
         [](Seen &s) {
             EXPECT_EQ(view(s.merged, 5), view(s.share, 5));
             NoteView expected = view(s.local, 5);
             expected.id = 6;
             EXPECT_EQ(view(s.merged, 6), expected);
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select id from picture where articleId=6"))->toLongLong(),
                       3);
         }},
        {"MajorsNewOnBothSidesWithOneCaptionAreOne",
         [](NotesFile &f) {
             const qint64 major = f.major(QStringLiteral("Books"));
             f.note(f.minor(major, QStringLiteral("小说")), QStringLiteral("书单"));
         },
         [](NotesFile &f) { f.minor(f.major(QStringLiteral("books")), QStringLiteral("诗歌")); },
         {2, 0, 0, 0, 1},
         [](Seen &s) {
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select count(*) from Class"))->toLongLong(), 4);
             EXPECT_EQ(caption(s.merged, true, 4), QStringLiteral("books"));
             EXPECT_EQ(caption(s.merged, false, 4), QStringLiteral("诗歌"));
             EXPECT_EQ(caption(s.merged, false, 5), QStringLiteral("小说"));
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select classId from Section where id=5"))->toLongLong(), 4);
             const NoteView note = view(s.merged, 5);
             EXPECT_EQ(note.caption, QStringLiteral("书单"));
             EXPECT_EQ(note.class_id, 4);
             EXPECT_EQ(note.section_id, 5);
         }},
        {"MinorsNewOnBothSidesWithOneCaptionAreOne",
         [](NotesFile &f) { f.note(f.minor(kLife, QStringLiteral("读书")), QStringLiteral("书单")); },
         [](NotesFile &f) { f.minor(kWork, QStringLiteral("读书")); },
         {1},
         [](Seen &s) {
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select count(*) from Section"))->toLongLong(), 4);
             const NoteView note = view(s.merged, 5);
             EXPECT_EQ(note.section_id, 4);
             EXPECT_EQ(note.class_id, kWork); // with its minor category
         }},
        {"RenamesHereThatRepeatACaptionOfTheShareGetASuffix",
         [](NotesFile &f) {
             f.run(QStringLiteral("update Section set caption='计划' where id=?1"), {kProject});
             f.run(QStringLiteral("update Class set caption='Work' where id=?1"), {kLife});
         },
         [](NotesFile &f) {
             f.minor(kLife, QStringLiteral("计划"));
             f.run(QStringLiteral("update Class set caption='work' where id=?1"), {kWork});
         },
         {2, 0, 0, 0, 0, 2},
         [](Seen &s) {
             EXPECT_EQ(caption(s.merged, false, 4), QStringLiteral("计划"));
             EXPECT_EQ(caption(s.merged, false, kProject), QStringLiteral("计划") + kRenameMark);
             EXPECT_EQ(caption(s.merged, true, kWork), QStringLiteral("work"));
             EXPECT_EQ(caption(s.merged, true, kLife), QStringLiteral("Work") + kRenameMark);
             const QList<CategoryRename> renames = {
                 {true, QStringLiteral("Work"), QStringLiteral("Work") + kRenameMark},
                 {false, QStringLiteral("计划"), QStringLiteral("计划") + kRenameMark}};
             EXPECT_EQ(s.report.renames, renames);
         }},
        {"CategoryRenamedOnBothSidesTakesTheSharesCaption",
         [](NotesFile &f) { f.run(QStringLiteral("update Section set caption='例会' where id=?1"), {kMeeting}); },
         [](NotesFile &f) { f.run(QStringLiteral("update Section set caption='周例会' where id=?1"), {kMeeting}); },
         {},
         [](Seen &s) { EXPECT_EQ(caption(s.merged, false, kMeeting), QStringLiteral("周例会")); }},
        {"CategoryDeletedOnTheShareStaysForANoteChangedHereInIt",
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         [](NotesFile &f) { f.run(QStringLiteral("delete from Section where id=?1"), {kMeeting}); },
         {1, 0, 0, 1},
         [](Seen &s) {
             EXPECT_EQ(caption(s.merged, false, kMeeting), QStringLiteral("会议"));
             EXPECT_EQ(view(s.merged, kWeekly).caption, QStringLiteral("周会纪要"));
         }},
        {"CategoryDeletedHereStaysForANoteChangedOnTheShareInIt",
         [](NotesFile &f) { f.run(QStringLiteral("delete from Section where id=?1"), {kMeeting}); },
         [](NotesFile &f) { rename_note(f, kWeekly, QStringLiteral("周会纪要")); },
         {0, 0, 0, 1},
         [](Seen &s) { EXPECT_EQ(caption(s.merged, false, kMeeting), QStringLiteral("会议")); }},
        {"CategoryDeletedHereAndUnchangedOnTheShareGoes",
         [](NotesFile &f) { f.run(QStringLiteral("delete from Section where id=?1"), {kProject}); },
         {},
         {1},
         [](Seen &s) {
             EXPECT_EQ(caption(s.merged, false, kProject), QStringLiteral("<none>"));
             EXPECT_EQ(view(s.merged, kPlan), view(s.share, kPlan)); // its note stays, as in the program
         }},
        {"MajorDeletedOnTheShareStaysForAMinorCreatedHereInIt",
         [](NotesFile &f) { f.minor(kLife, QStringLiteral("游记")); },
         [](NotesFile &f) { f.run(QStringLiteral("delete from Class where id=?1"), {kLife}); },
         {1, 0, 0, 1},
         [](Seen &s) {
             EXPECT_EQ(caption(s.merged, true, kLife), QStringLiteral("生活"));
             EXPECT_EQ(
                 s.merged.query_first(QStringLiteral("select classId from Section where caption='游记'"))->toLongLong(),
                 kLife);
         }},
        {"NoteInACategoryMadeAndDeletedHerePointsNowhereOnTheShareToo",
         [](NotesFile &f) {
             const qint64 minor = f.minor(kWork, QStringLiteral("临时"));
             f.note(minor, QStringLiteral("零散"));
             f.run(QStringLiteral("delete from Section where id=?1"), {minor});
         },
         [](NotesFile &f) { f.minor(kWork, QStringLiteral("网盘")); },
         {1},
         [](Seen &s) {
             // Not the share's new minor category 4, nor any the program will make later.
             EXPECT_EQ(view(s.merged, 5).section_id, 5);
             EXPECT_EQ(s.merged.query_first(QStringLiteral("select seq from sqlite_sequence where name='Section'"))
                           ->toLongLong(),
                       5);
         }},
        {"SettingsMergeKeyByKey",
         [](NotesFile &f) {
             f.setting(QStringLiteral("webDAV网址"), QStringLiteral("https://b.example/"));
             f.setting(QStringLiteral("tmp_file1"), QStringLiteral("5"));
             f.run(QStringLiteral("delete from set_table where key1='last_time'"));
             f.setting(QStringLiteral("yz_generation"), QStringLiteral("8"));
             f.setting(QStringLiteral("password"), QStringLiteral("e10adc3949ba59abbe56e057f20f883e"));
             f.setting(QStringLiteral("启动从网盘同步"), QStringLiteral("0"));
         },
         [](NotesFile &f) {
             f.setting(QStringLiteral("last_time"), QStringLiteral("200"));
             f.setting(QStringLiteral("yz_generation"), QStringLiteral("9"));
             f.setting(QStringLiteral("zip密码"), QStringLiteral("z"));
             f.setting(QStringLiteral("启动从网盘同步"), QStringLiteral("2"));
         },
         {3, 0, 0, 1},
         [](Seen &s) {
             EXPECT_EQ(setting(s.merged, QStringLiteral("webDAV网址")), QStringLiteral("https://b.example/"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("tmp_file1")), QStringLiteral("5"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("last_time")), QStringLiteral("200"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("yz_generation")), QStringLiteral("9"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("password")),
                       QStringLiteral("e10adc3949ba59abbe56e057f20f883e"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("zip密码")), QStringLiteral("z"));
             EXPECT_EQ(setting(s.merged, QStringLiteral("启动从网盘同步")), QStringLiteral("2"));
         }},
        {"AutosaveKeyOfThisMachineWinsAlsoWhenOnlyTheShareChangedIt",
         {},
         [](NotesFile &f) { f.setting(QStringLiteral("tmp_file1"), QStringLiteral("3")); },
         {1},
         [](Seen &s) { EXPECT_EQ(setting(s.merged, QStringLiteral("tmp_file1")), QStringLiteral("000")); }},
        {"SpareRowsNewOnBothSidesGetDistinctKeys",
         [](NotesFile &f) { f.run(QStringLiteral("insert into beiyong_table(value3) values('本机')")); },
         [](NotesFile &f) { f.run(QStringLiteral("insert into beiyong_table(value3) values('网盘')")); },
         {1, 0, 0, 0, 1},
         [](Seen &s) {
             const auto rows = s.merged.query(QStringLiteral("select key1, value3 from beiyong_table order by key1"));
             ASSERT_EQ(rows.size(), 2);
             EXPECT_EQ(rows[0][1].toString(), QStringLiteral("网盘"));
             EXPECT_EQ(rows[1][0].toLongLong(), 2);
             EXPECT_EQ(rows[1][1].toString(), QStringLiteral("本机"));
         }},
    };
    return cases;
}

class MergeRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(MergeRules, Case)
{
    const RuleCase &c = GetParam();
    TempFolder dir;
    const QString base = dir.file(QStringLiteral("base.sl3"));
    const QString local = dir.file(QStringLiteral("local.sl3"));
    const QString share = dir.file(QStringLiteral("share.sl3"));
    const QString share_before = dir.file(QStringLiteral("share-before.sl3"));
    make_base(base);
    const Fingerprints base_prints = compute_fingerprints(base);
    copy_file(base, local);
    copy_file(base, share);
    if (c.local) {
        NotesFile f(local);
        c.local(f);
    }
    if (c.share) {
        NotesFile f(share);
        c.share(f);
    }
    copy_file(share, share_before);
    const QString local_dump = dump(local);

    const MergeResult result = merge_databases(base_prints, local, share, kMergeTime);
    const MergeReport &r = result.report;
    EXPECT_EQ(r.applied_local_changes, c.counts.applied);
    EXPECT_EQ(r.conflict_copies, c.counts.copies);
    EXPECT_EQ(r.unmarked_copies, c.counts.unmarked);
    EXPECT_EQ(r.kept_deletions, c.counts.kept);
    EXPECT_EQ(r.renumbered_rows, c.counts.renumbered);
    EXPECT_EQ(r.renamed_categories, c.counts.renamed);
    EXPECT_EQ(r.copy_ids.size(), r.conflict_copies);

    EXPECT_EQ(dump(local), local_dump);
    if (!r.changed_share()) {
        EXPECT_EQ(dump(share), dump(share_before));
    }
    {
        Connection merged, l, s;
        merged.open(share);
        l.open(local);
        s.open(share_before);
        EXPECT_EQ(integrity(merged), QStringLiteral("ok"));
        Seen seen{merged, l, s, r};
        c.check(seen);
    }
    // The fingerprints handed back are those of the merged file, and merging the result with
    // itself changes nothing.
    EXPECT_TRUE(result.merged == compute_fingerprints(share));
    const QString again = dir.file(QStringLiteral("again.sl3"));
    copy_file(share, again);
    const MergeResult second = merge_databases(result.merged, share, again, kMergeTime);
    EXPECT_FALSE(second.report.changed_share());
    EXPECT_EQ(dump(again), dump(share));
}

INSTANTIATE_TEST_SUITE_P(Sync, MergeRules, ::testing::ValuesIn(rule_cases()),
                         [](const ::testing::TestParamInfo<RuleCase> &p) { return std::string(p.param.name); });

// ---- Beyond the table ----

class MergeTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        make_base(base);
        base_prints = compute_fingerprints(base);
        copy_file(base, local);
        copy_file(base, share);
    }

    TempFolder dir;
    QString base = dir.file(QStringLiteral("base.sl3"));
    QString local = dir.file(QStringLiteral("local.sl3"));
    QString share = dir.file(QStringLiteral("share.sl3"));
    Fingerprints base_prints;
};

// The first sync knows no base: nothing counts as deleted, rows alike on both sides are one,
// notes with one id and different content are kept both.
TEST_F(MergeTest, WithoutBaseEveryRowOfEitherSideIsKept)
{
    {
        NotesFile f(local);
        f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("本机正文"), kRtf);
        f.note(kDiary, QStringLiteral("本机新"));
    }
    {
        NotesFile f(share);
        f.save_body(kWeekly, QStringLiteral("例会"), QStringLiteral("网盘正文"), kRtf);
        f.delete_note(kPlan);
        f.note(kDiary, QStringLiteral("网盘新"));
    }
    const MergeResult result = merge_databases(std::nullopt, local, share, kMergeTime);
    EXPECT_EQ(result.report.conflict_copies, 2); // note 1, and the two notes 5
    // Note 2, gone from the share: deleted there or new here, it gets an id the share never used.
    EXPECT_EQ(result.report.applied_local_changes, 1);
    EXPECT_EQ(result.report.renumbered_rows, 1);
    EXPECT_EQ(result.report.kept_deletions, 0);
    Connection merged;
    merged.open(share);
    EXPECT_EQ(view(merged, kWeekly).content, QStringLiteral("网盘正文"));
    EXPECT_EQ(notes_titled(merged, QStringLiteral("周会") + kCopyMark).size(), 1);
    EXPECT_EQ(notes_titled(merged, QStringLiteral("本机新") + kCopyMark).size(), 1);
    EXPECT_EQ(notes_titled(merged, QStringLiteral("网盘新")), QList<qint64>{5});
    EXPECT_EQ(notes_titled(merged, QStringLiteral("计划")), QList<qint64>{6});
    EXPECT_EQ(merged.query_first(QStringLiteral("select count(*) from title"))->toLongLong(), 7);
    EXPECT_EQ(merged.query_first(QStringLiteral("select count(*) from Section"))->toLongLong(), 3);
    EXPECT_TRUE(result.merged == compute_fingerprints(share));
}

// A share file written by a program of the earlier table layout gets the start-up upgrade.
TEST_F(MergeTest, ShareOfAnOlderLayoutIsUpgradedFirst)
{
    {
        NotesFile f(share);
        f.run(QStringLiteral("drop table beiyong_table"));
        for (const char *column : {"fast", "beiyong1", "beiyong2", "beiyong3", "beiyong4", "beiyong5"})
            f.run(QStringLiteral("alter table title drop column %1").arg(QLatin1String(column)));
        f.run(QStringLiteral("alter table notes drop column beiyong1"));
        f.run(QStringLiteral("alter table notes drop column beiyong2"));
    }
    {
        NotesFile f(local);
        rename_note(f, kWeekly, QStringLiteral("周会纪要"));
    }
    const MergeResult result = merge_databases(base_prints, local, share, kMergeTime);
    EXPECT_EQ(result.report.applied_local_changes, 1);
    Connection merged;
    merged.open(share);
    EXPECT_EQ(integrity(merged), QStringLiteral("ok"));
    EXPECT_EQ(view(merged, kWeekly).caption, QStringLiteral("周会纪要"));
    EXPECT_EQ(merged.query_first(QStringLiteral("select count(*) from beiyong_table"))->toLongLong(), 0);
    EXPECT_TRUE(result.merged == compute_fingerprints(share));
}

// Fingerprints of this machine made ahead serve while the file is as it was; a change made
// after them is still merged.
TEST_F(MergeTest, LocalFingerprintsMadeAheadServeOnlyWhileTheFileIsUnchanged)
{
    {
        NotesFile f(local);
        rename_note(f, kWeekly, QStringLiteral("周会纪要"));
    }
    const QString plain = dir.file(QStringLiteral("plain.sl3"));
    copy_file(share, plain);
    const MergeResult without = merge_databases(base_prints, local, plain, kMergeTime);

    const LocalPrints ahead = fingerprint_local(local);
    EXPECT_TRUE(ahead.prints == compute_fingerprints(local));
    const QString with_ahead = dir.file(QStringLiteral("ahead.sl3"));
    copy_file(share, with_ahead);
    const MergeResult with = merge_databases(base_prints, local, with_ahead, kMergeTime, &ahead);
    EXPECT_EQ(dump(with_ahead), dump(plain));
    EXPECT_EQ(with.report.applied_local_changes, without.report.applied_local_changes);

    {
        NotesFile f(local);
        rename_note(f, kPlan, QStringLiteral("年度计划"));
    }
    const MergeResult stale = merge_databases(base_prints, local, share, kMergeTime, &ahead);
    EXPECT_EQ(stale.report.applied_local_changes, 2);
    Connection merged;
    merged.open(share);
    EXPECT_EQ(view(merged, kPlan).caption, QStringLiteral("年度计划"));
}

// A failure half-way leaves the share's file as it was.
TEST_F(MergeTest, FailureLeavesTheShareFileUnchanged)
{
    {
        NotesFile f(local);
        rename_note(f, kWeekly, QStringLiteral("周会纪要"));
        f.picture(kPlan, QByteArrayLiteral("\x89PNG new"));
    }
    {
        NotesFile f(share);
        f.run(QStringLiteral("create trigger refuse before insert on picture begin select raise(abort, '图片被拒绝'); "
                             "end"));
    }
    const QByteArray before = TempFolder::read(share);
    try {
        merge_databases(base_prints, local, share, kMergeTime);
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("合并到数据库“%1”失败：拒绝了这次写入（数据不符合约束）（图片被拒绝）").arg(share));
    }
    EXPECT_EQ(TempFolder::read(share), before);
}

TEST_F(MergeTest, RefusesOneFileAsBothSidesAndFilesThatAreNoDatabase)
{
    try {
        merge_databases(base_prints, local, local, kMergeTime);
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("本机数据库和网盘数据库是同一个文件“%1”，无法合并。").arg(local));
    }
    TempFolder::write(share, QByteArray(8192, 'z'));
    try {
        merge_databases(base_prints, local, share, kMergeTime);
        FAIL() << "no error";
    } catch (const SyncError &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("无法写入数据库“%1”：不是数据库文件，或已损坏（file is not a database）").arg(share));
    }
    EXPECT_EQ(TempFolder::read(share), QByteArray(8192, 'z'));
}

} // namespace
