// The rules of the category commands against real main and backup databases.
#include "catalogue/category_commands.h"
#include "crypto/text_cipher.h"
#include "store/category_rows.h"
#include "store/note_store.h"
#include "store/sql_text.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

using test::ScriptedDialogs;

const QString kAdded = QStringLiteral("添加成功。");

TEST(CategoryRules, SortKeys)
{
    EXPECT_EQ(new_category_px(0), 100);
    EXPECT_EQ(new_category_px(1), 102);
    EXPECT_EQ(new_category_px(2), 104);
    EXPECT_EQ(unpin_px(5), 105);
    EXPECT_EQ(unpin_px(0), 100);
}

TEST(CategoryRules, StoredNameKeepsTheEscapingSlashes)
{
    const struct {
        QString typed, stored;
    } cases[] = {
        {QStringLiteral("it's 50%"), QStringLiteral("it's 50/%")},
        {QStringLiteral("say \"hi\""), QStringLiteral("say /\"hi/\"")},
        {QStringLiteral("%%"), QStringLiteral("/%/%")},
        {QStringLiteral("读书'笔记"), QStringLiteral("读书'笔记")},
        {QStringLiteral("a/b_c"), QStringLiteral("a/b_c")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        EXPECT_EQ(stored_category_name(c.typed), c.stored);
        // The literal built with escape_sql_text reads back as the stored form.
        EXPECT_EQ(escape_sql_text(c.typed), double_quotes(c.stored));
    }
}

class CategoryCommandsTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = std::make_unique<NoteStore>(lock);
        store->Connect_to_db(zhu, bei, dialogs);
        ASSERT_EQ(store->status(), kMainAndBackup);
    }
    void TearDown() override
    {
        store.reset();
        StoreTest::TearDown();
    }

    qint64 px_of(const QString &table, const QString &caption)
    {
        return store->get_first_integer(QStringLiteral("select px from ") + table + QStringLiteral(" where caption='") +
                                        double_quotes(caption) + QStringLiteral("'"));
    }

    // Creates a major category through the command, as the window does.
    QString add_class(const QString &name)
    {
        dialogs.expect_input(QStringLiteral("请输入"), name).expect_message(kAdded);
        QString shown;
        EXPECT_TRUE(new_class(*store, dialogs, class_captions(*store), [&](const QString &e) { shown = e; }));
        dialogs.verify_done();
        return shown;
    }
    QString add_section(const QString &class_caption, const QString &name)
    {
        dialogs.expect_input(QStringLiteral("请输入"), name).expect_message(kAdded);
        QString shown;
        const auto captions = section_captions(*store, class_caption);
        EXPECT_EQ(
            new_section(*store, dialogs, 1, class_caption, int(captions.size()), [&](const QString &e) { shown = e; }),
            NewSectionOutcome::Added);
        dialogs.verify_done();
        return shown;
    }

    std::unique_ptr<NoteStore> store;
};

TEST_F(CategoryCommandsTest, NewMajorCategoriesComeBeforeTheDefaultOnceRefilled)
{
    EXPECT_EQ(px_of(QStringLiteral("Class"), QStringLiteral("默认大类")), 500);
    EXPECT_EQ(add_class(QStringLiteral("工作")), QStringLiteral("工作"));
    EXPECT_EQ(add_class(QStringLiteral("生活")), QStringLiteral("生活"));
    EXPECT_EQ(px_of(QStringLiteral("Class"), QStringLiteral("工作")), 102);
    EXPECT_EQ(px_of(QStringLiteral("Class"), QStringLiteral("生活")), 104);
    EXPECT_EQ(class_captions(*store),
              QStringList({QStringLiteral("工作"), QStringLiteral("生活"), QStringLiteral("默认大类")}));
    EXPECT_TRUE(store->changed());
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, CancelledOrEmptyNameAddsNothing)
{
    dialogs.expect_input(QStringLiteral("请输入"), QString(), Dialogs::Answer::Cancel);
    EXPECT_FALSE(new_class(*store, dialogs, class_captions(*store), [](const QString &) { FAIL(); }));
    dialogs.expect_input(QStringLiteral("请输入"), QString());
    EXPECT_FALSE(new_class(*store, dialogs, class_captions(*store), [](const QString &) { FAIL(); }));
    EXPECT_FALSE(store->changed());
    EXPECT_EQ(class_captions(*store).size(), 1);
}

TEST_F(CategoryCommandsTest, NameRules)
{
    add_class(QStringLiteral("Work"));
    add_class(QStringLiteral("旧"));
    add_section(QStringLiteral("Work"), QStringLiteral("notes"));
    add_section(QStringLiteral("旧"), QStringLiteral("归档"));
    // Deleting a major category keeps its minor categories' names taken.
    dialogs.expect_question(QStringLiteral("是否删除大类“旧”?"), Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("删除成功。"));
    ASSERT_TRUE(delete_category(*store, dialogs, kTargetMajor, QStringLiteral("旧")));

    // Major: letter case does not make a new name.
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("WORK")).expect_message(class_exists_text());
    EXPECT_FALSE(new_class(*store, dialogs, class_captions(*store), [](const QString &) {}));
    // Minor: exact comparison across all major categories.
    const struct {
        QString name;
        bool accepted;
    } cases[] = {
        {QStringLiteral("notes"), false}, // under this major category
        {QStringLiteral("归档"), false},  // under a deleted one
        {QStringLiteral("Notes"), true},  // differs in letter case only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        dialogs.expect_input(QStringLiteral("请输入"), c.name);
        dialogs.expect_message(c.accepted ? kAdded : section_exists_text());
        const auto outcome = new_section(*store, dialogs, 1, QStringLiteral("Work"), 1, [](const QString &) {});
        EXPECT_EQ(outcome, c.accepted ? NewSectionOutcome::Added : NewSectionOutcome::Stopped);
        dialogs.verify_done();
    }
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, QuotesPercentAndDoubleQuotesInNames)
{
    // The list gets the stored text, so every later lookup by caption finds the row.
    const QString major = add_class(QStringLiteral("it's 50%"));
    EXPECT_EQ(major, QStringLiteral("it's 50/%"));
    EXPECT_EQ(class_captions(*store).first(), major);
    const QString minor = add_section(major, QStringLiteral("say \"a%\"'"));
    EXPECT_EQ(minor, QStringLiteral("say /\"a/%/\"'"));
    EXPECT_EQ(section_captions(*store, major), QStringList{minor});
    // The same name typed again is refused: it is compared in its stored form.
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("say \"a%\"'")).expect_message(section_exists_text());
    EXPECT_EQ(new_section(*store, dialogs, 1, major, 1, [](const QString &) {}), NewSectionOutcome::Stopped);
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("IT'S 50%")).expect_message(class_exists_text());
    EXPECT_FALSE(new_class(*store, dialogs, class_captions(*store), [](const QString &) {}));
    // Delete and order statements take the quote.
    apply_order(*store, OrderCommand::Pin, kTargetMinor, minor, -1, 0);
    EXPECT_EQ(px_of(QStringLiteral("Section"), minor), 0);
    dialogs.expect_question(QStringLiteral("是否删除小类“") + minor + QStringLiteral("”?"), Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("删除成功。"));
    EXPECT_TRUE(delete_category(*store, dialogs, kTargetMinor, minor));
    EXPECT_TRUE(section_captions(*store, major).isEmpty());
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, OrderOfEveryTargetOnBothDatabases)
{
    const QString cap = QStringLiteral("O'Neil");
    test::write_sql(*store, QStringLiteral("insert into Class(px,caption) values(100,?1)"), {cap});
    test::write_sql(*store, QStringLiteral("insert into Section(px,classId,caption) values(100,1,?1)"), {cap});
    test::write_sql(*store,
                    QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,42,'n')"));
    const auto px = [&](int target) {
        return target == kTargetNote
                   ? store->get_first_integer(QStringLiteral("select px from title where noteId=42"))
                   : px_of(target == kTargetMajor ? QStringLiteral("Class") : QStringLiteral("Section"), cap);
    };
    const struct {
        OrderCommand command;
        int target;
        qint64 px;
    } cases[] = {
        {OrderCommand::Pin, kTargetMajor, 0},      {OrderCommand::Unpin, kTargetMajor, 105},
        {OrderCommand::MoveUp, kTargetMajor, 102}, {OrderCommand::MoveDown, kTargetMinor, 103},
        {OrderCommand::Unpin, kTargetMinor, 105},  {OrderCommand::Pin, kTargetNote, 0},
        {OrderCommand::MoveDown, kTargetNote, 3},  {OrderCommand::Unpin, kTargetNote, 105},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(apply_order(*store, c.command, c.target, cap, 42, 5), 1);
        EXPECT_EQ(px(c.target), c.px) << int(c.command) << " " << c.target;
    }
    EXPECT_EQ(apply_order(*store, OrderCommand::Pin, kNoTarget, cap, 42, 5), 0);
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, NewMinorWithoutSelectedMajor)
{
    dialogs.expect_message(QStringLiteral("请先选择一个大类，以备在其下创建小类。"));
    EXPECT_EQ(new_section(*store, dialogs, 1, std::nullopt, 0, [](const QString &) {}), NewSectionOutcome::Stopped);
    dialogs.expect_question(QStringLiteral("建小类前需要先建大类，是否立即创建大类？"), Dialogs::Answer::Yes);
    EXPECT_EQ(new_section(*store, dialogs, 0, std::nullopt, 0, [](const QString &) {}),
              NewSectionOutcome::CreateMajorFirst);
    dialogs.expect_question(QStringLiteral("建小类前需要先建大类，是否立即创建大类？"), Dialogs::Answer::No);
    EXPECT_EQ(new_section(*store, dialogs, 0, std::nullopt, 0, [](const QString &) {}), NewSectionOutcome::Stopped);
    dialogs.verify_done();
}

TEST_F(CategoryCommandsTest, MoveUpDownAndPinArithmetic)
{
    for (const char *n : {"a", "b", "c"})
        add_section(QStringLiteral("默认大类"), QString::fromLatin1(n)); // px 100, 102, 104
    const QString b = QStringLiteral("b");
    const struct {
        OrderCommand command;
        qint64 px;
        QStringList order;
    } cases[] = {
        {OrderCommand::MoveUp, 99, {"b", "a", "c"}},    {OrderCommand::MoveDown, 102, {"a", "b", "c"}},
        {OrderCommand::MoveDown, 105, {"a", "c", "b"}}, {OrderCommand::Pin, 0, {"b", "a", "c"}},
        {OrderCommand::Unpin, 105, {"a", "c", "b"}}, // in a list of five
    };
    for (const auto &c : cases) {
        apply_order(*store, c.command, kTargetMinor, b, -1, 5);
        EXPECT_EQ(px_of(QStringLiteral("Section"), b), c.px);
        EXPECT_EQ(section_captions(*store, QStringLiteral("默认大类")), c.order);
    }
    // Two pinned entries both have 0.
    apply_order(*store, OrderCommand::Pin, kTargetMinor, QStringLiteral("a"), -1, 3);
    apply_order(*store, OrderCommand::Pin, kTargetMinor, QStringLiteral("c"), -1, 3);
    EXPECT_EQ(px_of(QStringLiteral("Section"), QStringLiteral("a")), 0);
    EXPECT_EQ(px_of(QStringLiteral("Section"), QStringLiteral("c")), 0);
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, DeletingAMajorCategoryKeepsItsRows)
{
    add_class(QStringLiteral("项目"));
    add_section(QStringLiteral("项目"), QStringLiteral("会议"));
    test::write_sql(*store, QStringLiteral("insert into title(noteId,sectionId,caption,px,isDel) select "
                                           "7,id,'纪要',100,0 from Section where caption='会议'"));
    dialogs.expect_question(QStringLiteral("是否删除大类“项目”?"), Dialogs::Answer::No);
    EXPECT_FALSE(delete_category(*store, dialogs, kTargetMajor, QStringLiteral("项目")));
    dialogs.expect_message(QStringLiteral("请先选择一个要删除的大类。"));
    EXPECT_FALSE(delete_category(*store, dialogs, kTargetMajor, std::nullopt));
    dialogs.expect_question(QStringLiteral("是否删除大类“项目”?"), Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("删除成功。"));
    EXPECT_TRUE(delete_category(*store, dialogs, kTargetMajor, QStringLiteral("项目")));
    EXPECT_EQ(store->get_first_integer(QStringLiteral("select count(*) from Class where caption='项目'")), 0);
    EXPECT_EQ(store->get_first_integer(QStringLiteral("select count(*) from Section where caption='会议'")), 1);
    EXPECT_EQ(store->get_first_string(QStringLiteral("select caption from title where noteId=7")),
              QStringLiteral("纪要"));
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, RenameStoresTheNameAsTyped)
{
    add_class(QStringLiteral("A"));
    add_section(QStringLiteral("A"), QStringLiteral("x"));
    RenameTarget major{kTargetMajor, QStringLiteral("A"), -1, 0, QString()};
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("默认大类")).expect_message(class_exists_text());
    EXPECT_FALSE(rename_category_or_note(*store, dialogs, class_captions(*store), major));
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("50% 'q'"));
    EXPECT_EQ(rename_category_or_note(*store, dialogs, class_captions(*store), major), QStringLiteral("50% 'q'"));
    EXPECT_EQ(class_captions(*store).first(), QStringLiteral("50% 'q'"));

    RenameTarget minor{kTargetMinor, QStringLiteral("x"), -1, 0, QString()};
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("x")).expect_message(section_exists_text());
    EXPECT_FALSE(rename_category_or_note(*store, dialogs, {}, minor));
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("X\""));
    EXPECT_EQ(rename_category_or_note(*store, dialogs, {}, minor), QStringLiteral("X\""));
    EXPECT_EQ(section_captions(*store, QStringLiteral("50% 'q'")), QStringList{QStringLiteral("X\"")});
    EXPECT_FALSE(rename_category_or_note(*store, dialogs, {}, RenameTarget{})); // nothing acted on: no prompt
    dialogs.verify_done();
    test::expect_mirror_identical(*store);
}

TEST_F(CategoryCommandsTest, RenamingAnEncryptedNoteKeepsItOpenable)
{
    test::write_sql(*store,
                    QStringLiteral("insert into title(noteId,sectionId,caption,px,isDel) values(5,1,'old',100,1)"));
    test::write_sql(*store,
                    QStringLiteral("insert into title(noteId,sectionId,caption,px,isDel) values(6,1,'old',100,2)"));
    const QString pw = QStringLiteral("密码'1");
    for (int mode : {1, 2}) {
        RenameTarget t{kTargetNote, QString(), 4 + mode, mode, pw};
        dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("新标题"));
        EXPECT_EQ(rename_category_or_note(*store, dialogs, {}, t), QStringLiteral("新标题"));
        const QString caption = store->get_first_string(QStringLiteral("select caption from title where noteId=") +
                                                        QString::number(4 + mode));
        EXPECT_EQ(caption, note_caption_for_mode(mode, QStringLiteral("新标题"), pw));
        if (mode == 1)
            EXPECT_EQ(decrypt_text(caption, pw, TextForm::Utf16Le), QStringLiteral("@*crypt*新标题"));
        else
            EXPECT_EQ(decrypt_text(caption.left(32), pw, TextForm::Utf16Le) + caption.mid(32),
                      QStringLiteral("@*crypt*:ppp新标题"));
    }
    test::expect_mirror_identical(*store);
}

} // namespace
} // namespace yunshan
