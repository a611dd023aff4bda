// Moving a note to another minor category, against real main and backup databases.
#include "catalogue/move_note.h"
#include "store/note_store.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

class MoveNoteTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        connect();
        // Two major categories; "甲" under the first, "乙" and "O'Neil" under the second.
        for (const char *sql :
             {"insert into Class(px,caption) values(100,'一')", "insert into Class(px,caption) values(102,'二')",
              "insert into Section(px,classId,caption) values(100,1,'甲')",
              "insert into Section(px,classId,caption) values(100,2,'乙')",
              "insert into Section(px,classId,caption) values(102,2,'O''Neil')",
              "insert into notes(label,content,cuanjian,put) values('l','c','2023-11-02 08:09:10','2023-11-02 "
              "08:09:10')",
              "insert into title(px,classId,sectionId,noteId,caption) values(7,1,1,1,'笔记')"})
            test::write_sql(*store, QString::fromUtf8(sql));
    }
    void TearDown() override
    {
        store.reset();
        StoreTest::TearDown();
    }
    void connect()
    {
        store = std::make_unique<NoteStore>(lock);
        QString z = zhu, b = bei;
        ASSERT_EQ(store->Connect_to_db(z, b, dialogs), kMainAndBackup);
    }
    QString place() { return place_in(*store); }
    static QString place_in(NoteStore &s)
    {
        return s.get_first_string(
            QStringLiteral("select t.classId||'/'||t.sectionId||'/'||t.px from title t where t.noteId=1"));
    }

    std::unique_ptr<NoteStore> store;
};

TEST_F(MoveNoteTest, ToAnotherMajorCategoryOnBothDatabasesKeepingTheSortKey)
{
    EXPECT_EQ(move_note(*store, 1, QStringLiteral("甲"), QStringLiteral("O'Neil")), MoveOutcome::Moved);
    EXPECT_EQ(place(), QStringLiteral("2/3/7"));
    test::expect_mirror_identical(*store);

    // After a restart the note is found under its new category in both files.
    store.reset();
    connect();
    EXPECT_EQ(place(), QStringLiteral("2/3/7"));
    EXPECT_EQ((*test::open_backup(*store))
                  .query(QStringLiteral("select classId||'/'||sectionId from title where noteId=1"))
                  .value(0)
                  .value(0)
                  .toString(),
              QStringLiteral("2/3"));
}

TEST_F(MoveNoteTest, RefusalsWriteNothing)
{
    struct Case {
        const char *name;
        QString source;
        std::optional<QString> target;
        MoveOutcome outcome;
        QString text;
    };
    const std::vector<Case> cases = {
        {"no target", QStringLiteral("甲"), std::nullopt, MoveOutcome::NoTarget,
         QStringLiteral("请先选中一个目的小类。")},
        {"same category", QStringLiteral("甲"), QStringLiteral("甲"), MoveOutcome::Unchanged,
         QStringLiteral("当前大类与小类没有变化，无需移动。")},
        {"target gone", QStringLiteral("甲"), QStringLiteral("已删除"), MoveOutcome::TargetMissing,
         QStringLiteral("目的小类已不存在，请重新选择。")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const qint64 before = store->get_first_integer(QStringLiteral("select total_changes()"));
        EXPECT_EQ(move_note(*store, 1, c.source, c.target), c.outcome);
        EXPECT_EQ(move_outcome_text(c.outcome), c.text);
        EXPECT_EQ(store->get_first_integer(QStringLiteral("select total_changes()")), before);
        EXPECT_EQ(place(), QStringLiteral("1/1/7"));
    }
}

TEST_F(MoveNoteTest, WithoutAKnownSourceEveryTargetIsAMove)
{
    EXPECT_EQ(move_note(*store, 1, QString(), QStringLiteral("乙")), MoveOutcome::Moved);
    EXPECT_EQ(place(), QStringLiteral("2/2/7"));
}

TEST_F(MoveNoteTest, TargetWithAQuoteInItsCaption)
{
    test::write_sql(*store, QStringLiteral("insert into Section(classId,caption) values(2,?1)"),
                    {QStringLiteral("O'Neil")});
    EXPECT_EQ(move_note(*store, 1, QString(), QStringLiteral("O'Neil")), MoveOutcome::Moved);
    EXPECT_EQ(
        store->get_first_string(QStringLiteral("select sectionId from title where noteId=1")),
        store->get_first_string(QStringLiteral("select id from Section where caption=?1"), {QStringLiteral("O'Neil")}));
    test::expect_mirror_identical(*store);
}

} // namespace
} // namespace yunshan
