// The category lists and their commands, driven through the main window by object name.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/tform2.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "platform/settings_store.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kAdded = QStringLiteral("添加成功。");
const QString kDeleted = QStringLiteral("删除成功。");
const QString kPrompt = QStringLiteral("请输入");

class CatalogueWindowTest : public test::MainWindowFixture {
  protected:
    // Creates the window as the program does at start-up (closing the previous one).
    void SetUp() override { start(); }
    void start() { MainWindowFixture::start(true); }

    void click(const char *name)
    {
        auto *b = widget<QToolButton>(name);
        ASSERT_TRUE(b) << name;
        b->click();
        dialogs.verify_done();
    }
    void add_major(const QString &name)
    {
        dialogs.expect_input(kPrompt, name).expect_message(kAdded);
        click("ToolButton1");
    }
    void add_minor(const QString &name)
    {
        dialogs.expect_input(kPrompt, name).expect_message(kAdded);
        click("ToolButton3");
    }
    // Selects an entry as the user does and runs its click.
    void pick_major(int row)
    {
        form->catalogue_pane()->major_list()->setCurrentRow(row);
        form->open_major_category();
    }
    void pick_minor(int row)
    {
        form->catalogue_pane()->minor_list()->setCurrentRow(row);
        form->open_minor_category();
    }
    qint64 px(const QString &table, const QString &caption)
    {
        return form->store.get_first_integer(QStringLiteral("select px from ") + table +
                                             QStringLiteral(" where caption='") + caption + QStringLiteral("'"));
    }
};

TEST_F(CatalogueWindowTest, StartUpSelectsTheFirstMinorCategoryAndRunsItsClick)
{
    add_minor(QStringLiteral("日记"));
    start();
    EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), 0);
    EXPECT_EQ(form->catalogue_pane()->minor_list()->currentRow(), 0);
    EXPECT_EQ(form->selection.class_index, 0);
    EXPECT_EQ(form->selection.section_index, 0);
    EXPECT_EQ(form->selection.select, 2);
    EXPECT_EQ(form->list.search_flag, kSectionList);
}

TEST_F(CatalogueWindowTest, NewEntriesAppearAtTheEndAndTheOrderCommandsRefill)
{
    for (const char *n : {"A", "B", "C"})
        add_major(QString::fromLatin1(n));
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"默认大类", "A", "B", "C"}));
    EXPECT_EQ(px(QStringLiteral("Class"), QStringLiteral("C")), 106);
    EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), 0); // a new entry is not selected

    pick_major(2); // B
    const struct {
        const char *button;
        qint64 px;
        QStringList order;
    } steps[] = {
        {"ToolButton13", 101, {"B", "A", "C", "默认大类"}},                                                   // up
        {"ToolButton14", 104, {"A", "B", "C", "默认大类"}},                                                   // down
        {"ToolButton14", 107, {"A", "C", "B", "默认大类"}}, {"ToolButton12", 0, {"B", "A", "C", "默认大类"}}, // pin
        {"ToolButton16", 104, {"A", "B", "C", "默认大类"}}, // unpin: 100 + four entries
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.button);
        click(s.button);
        EXPECT_EQ(px(QStringLiteral("Class"), QStringLiteral("B")), s.px);
        EXPECT_EQ(texts(form->catalogue_pane()->major_list()), s.order);
        const int at = int(s.order.indexOf(QStringLiteral("B")));
        EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), at);
        EXPECT_EQ(form->selection.class_index, at);
        EXPECT_EQ(form->selection.select, 1);
    }
    EXPECT_TRUE(form->store.changed());
    test::expect_mirror_identical(form->store);
}

TEST_F(CatalogueWindowTest, InputBoxTitles)
{
    add_major(QStringLiteral("甲"));
    add_minor(QStringLiteral("乙"));
    dialogs.expect_input(kPrompt, QStringLiteral("丙"));
    click("ToolButton17");
    EXPECT_EQ(dialogs.input_titles(), QStringList({"请输入大类名称", "请输入小类名称", "请输入新的名称"}));
}

TEST_F(CatalogueWindowTest, MovingAMinorCategoryReloadsTheMinorList)
{
    for (const char *n : {"x", "y", "z"})
        add_minor(QString::fromLatin1(n));
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList({"x", "y", "z"}));
    pick_minor(1);
    EXPECT_EQ(form->selection.select, 2);
    EXPECT_EQ(form->selection.section_index, 1);
    click("ToolButton13");
    EXPECT_EQ(px(QStringLiteral("Section"), QStringLiteral("y")), 99);
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList({"y", "x", "z"}));
    EXPECT_EQ(form->catalogue_pane()->minor_list()->currentRow(), 0);
    EXPECT_EQ(form->selection.section_index, 0);
    EXPECT_EQ(form->selection.class_index, 0);
    EXPECT_EQ(form->selection.select, 2);
    EXPECT_EQ(form->note_list_model()->count(), 0);
    test::expect_mirror_identical(form->store);
}

TEST_F(CatalogueWindowTest, OrderingAndRenameWithoutATarget)
{
    // Nothing acted on yet: nothing happens.
    form->selection.select = 0;
    for (const char *b : {"ToolButton12", "ToolButton13", "ToolButton14", "ToolButton16", "ToolButton17"})
        click(b);
    // A list acted on but nothing selected in it: an error box, nothing changes.
    form->selection.select = 1;
    form->catalogue_pane()->major_list()->setCurrentRow(-1);
    form->catalogue_pane()->major_list()->clearSelection();
    dialogs.expect_error(QStringLiteral("请先选择一个大类。"));
    click("ToolButton13");
    form->selection.select = 3;
    dialogs.expect_error(QStringLiteral("请先打开一篇笔记。"));
    click("ToolButton17");
    EXPECT_FALSE(form->store.changed());
}

TEST_F(CatalogueWindowTest, RenameReplacesTheSelectedEntry)
{
    add_major(QStringLiteral("甲"));
    add_minor(QStringLiteral("乙"));
    pick_major(1);
    dialogs.expect_input(kPrompt, QStringLiteral("默认大类"))
        .expect_message(QStringLiteral("大类名称已经存在，不能重复。"));
    click("ToolButton17");
    dialogs.expect_input(kPrompt, QStringLiteral("甲'50%"));
    click("ToolButton17");
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"默认大类", "甲'50%"}));
    pick_major(0);
    pick_minor(0); // 乙 lives under 默认大类
    dialogs.expect_input(kPrompt, QStringLiteral("乙\""));
    click("ToolButton17");
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList{"乙\""});
    start();
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"甲'50%", "默认大类"}));
    EXPECT_EQ(form->store.get_first_integer(QStringLiteral("select count(*) from Section where caption='乙\"'")), 1);
    test::expect_mirror_identical(form->store);
}

TEST_F(CatalogueWindowTest, NamesWithQuotesAndPercentSurviveARestart)
{
    add_major(QStringLiteral("it's 50%"));
    add_major(QStringLiteral("说\"好\""));
    // The list holds the stored text at once, as a restart shows it.
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"默认大类", "it's 50/%", "说/\"好/\""}));
    pick_major(1);
    add_minor(QStringLiteral("a%'b"));
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList{"a/%'b"});
    EXPECT_EQ(form->store.get_first_integer(QStringLiteral("select count(*) from Section")), 1);
    pick_minor(0);
    EXPECT_EQ(form->selection.section_index, 0);

    start();
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"it's 50/%", "说/\"好/\"", "默认大类"}));
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList{"a/%'b"});
    // Delete takes the quote too.
    pick_minor(0);
    dialogs.expect_question(QStringLiteral("是否删除小类“a/%'b”?"), Dialogs::Answer::Yes).expect_message(kDeleted);
    click("ToolButton4");
    EXPECT_EQ(form->store.get_first_integer(QStringLiteral("select count(*) from Section")), 0);
    dialogs.expect_question(QStringLiteral("是否删除大类“it's 50/%”?"), Dialogs::Answer::Yes).expect_message(kDeleted);
    click("ToolButton2");
    EXPECT_EQ(texts(form->catalogue_pane()->major_list()), QStringList({"说/\"好/\"", "默认大类"}));
    test::expect_mirror_identical(form->store);
}

TEST_F(CatalogueWindowTest, DeletingTheLoadedCategoryClearsWhatHangsOnIt)
{
    add_major(QStringLiteral("甲"));
    add_major(QStringLiteral("乙"));
    pick_major(2);
    add_minor(QStringLiteral("乙一"));
    pick_minor(0);
    test::put_note_entries(*form, {QStringLiteral("1 笔记")}, {9});

    // Deleting an entry above the loaded one keeps the loaded one remembered.
    form->catalogue_pane()->major_list()->setCurrentRow(1);
    dialogs.expect_question(QStringLiteral("是否删除大类“甲”?"), Dialogs::Answer::Yes).expect_message(kDeleted);
    click("ToolButton2");
    EXPECT_EQ(form->selection.class_index, 1);
    EXPECT_EQ(form->catalogue_pane()->major_list()->item(1)->text(), QStringLiteral("乙"));
    EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), -1);

    // Deleting the loaded one empties the minor and note lists.
    form->catalogue_pane()->major_list()->setCurrentRow(1);
    dialogs.expect_question(QStringLiteral("是否删除大类“乙”?"), Dialogs::Answer::Yes).expect_message(kDeleted);
    click("ToolButton2");
    EXPECT_EQ(form->selection.class_index, -1);
    EXPECT_EQ(form->selection.section_index, -1);
    EXPECT_EQ(form->catalogue_pane()->minor_list()->count(), 0);
    EXPECT_EQ(form->note_list_model()->count(), 0);
    EXPECT_TRUE(form->note_list_model()->note_ids().isEmpty());
    // Its minor category stays in the database and its name stays taken.
    EXPECT_EQ(form->store.get_first_integer(QStringLiteral("select count(*) from Section where caption='乙一'")), 1);
    pick_major(0);
    dialogs.expect_input(kPrompt, QStringLiteral("乙一"))
        .expect_message(QStringLiteral("小类名称已经存在，不能重复，与其他大类里的小类也不能重名。"));
    click("ToolButton3");
    // Nothing selected: the delete commands say so.
    form->catalogue_pane()->minor_list()->setCurrentRow(-1);
    form->catalogue_pane()->minor_list()->clearSelection();
    dialogs.expect_message(QStringLiteral("请先选择一个要删除的小类。"));
    click("ToolButton4");
    test::expect_mirror_identical(form->store);
}

TEST_F(CatalogueWindowTest, ClicksOnTheLoadedEntryAndAnUnsavedNote)
{
    add_major(QStringLiteral("甲"));
    // A second click on the loaded entry does not read the database again.
    test::write_sql(
        form->store,
        QStringLiteral(
            "insert into Section(px,classId,caption) select 100,id,'外来' from Class where caption='默认大类'"));
    pick_major(0);
    EXPECT_EQ(form->catalogue_pane()->minor_list()->count(), 0);
    EXPECT_EQ(form->selection.select, 1);
    // Another category with an unsaved note open keeps that note.
    form->title_field()->setText(QStringLiteral("未保存"));
    form->set_save_enabled(true);
    pick_major(1);
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("未保存"));
    EXPECT_TRUE(form->save_enabled());
    // A category without minor categories shows empty lists.
    EXPECT_EQ(form->catalogue_pane()->minor_list()->count(), 0);
    EXPECT_EQ(form->note_list_model()->count(), 0);
    form->set_save_enabled(false);
    pick_major(0);
    EXPECT_EQ(texts(form->catalogue_pane()->minor_list()), QStringList{"外来"});
    EXPECT_TRUE(form->title_field()->text().isEmpty());
}

TEST_F(CatalogueWindowTest, MouseAndKeyboardSelectionRunTheClicks)
{
    add_major(QStringLiteral("甲"));
    add_minor(QStringLiteral("乙"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QListWidget *l1 = form->catalogue_pane()->major_list();
    QTest::mouseClick(l1->viewport(), Qt::LeftButton, {}, l1->visualItemRect(l1->item(1)).center());
    EXPECT_EQ(form->selection.class_index, 1);
    EXPECT_EQ(form->selection.select, 1);
    l1->setFocus();
    QTest::keyClick(l1, Qt::Key_Up);
    EXPECT_EQ(l1->currentRow(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->selection.class_index == 0; }, 2000));
    QListWidget *l2 = form->catalogue_pane()->minor_list();
    QTest::mouseClick(l2->viewport(), Qt::LeftButton, {}, l2->visualItemRect(l2->item(0)).center());
    EXPECT_EQ(form->selection.section_index, 0);
    EXPECT_EQ(form->selection.select, 2);
}

TEST_F(CatalogueWindowTest, TheOpenNoteStaysOpenWhenReorderedOrRenamed)
{
    add_minor(QStringLiteral("s"));
    pick_minor(0);
    NoteStore &st = form->store;
    for (int id : {1, 2, 3})
        test::write_sql(st, QStringLiteral("insert into title(noteId,sectionId,caption,px) select %1,id,'n%1',%2 from "
                                           "Section where caption='s'")
                                .arg(id)
                                .arg(98 + 2 * id));
    auto list_notes = [&] { test::put_note_entries(*form, {"n1", "n2", "n3"}, {1, 2, 3}); };
    list_notes();
    form->note.noteId = 2;
    form->note.title_mark = ChangeMark::Suspended; // filled as opening a note fills them: no edit
    form->title_field()->setText(QStringLiteral("n2"));
    form->editor_pane()->editor()->setPlainText(QStringLiteral("正文"));
    form->note.title_mark = ChangeMark::Unchanged;
    form->select_note_entry(1); // marked, not opened: the note has no body rows here
    form->selection.select = 3;

    click("ToolButton13");
    EXPECT_EQ(st.get_first_integer(QStringLiteral("select px from title where noteId=2")), 99);
    EXPECT_EQ(form->note.noteId, 2);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文"));
    EXPECT_FALSE(form->save_enabled());
    EXPECT_EQ(form->selection.select, 3);
    EXPECT_EQ(form->selection.note_index, form->find_open_note_index());
    EXPECT_EQ(form->note_list_pane()->current_row(), form->selection.note_index);
    click("ToolButton12");
    EXPECT_EQ(st.get_first_integer(QStringLiteral("select px from title where noteId=2")), 0);

    list_notes();
    dialogs.expect_input(kPrompt, QStringLiteral("新'题"));
    click("ToolButton17");
    EXPECT_EQ(st.get_first_string(QStringLiteral("select caption from title where noteId=2")), QStringLiteral("新'题"));
    EXPECT_EQ(test::note_texts(*form), QStringList({"n1", "新'题", "n3"}));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("新'题"));
    EXPECT_EQ(form->note.title_mark, ChangeMark::Unchanged);
    test::expect_mirror_identical(st);
}

TEST_F(CatalogueWindowTest, ReadOnlySecondInstanceWritesNothing)
{
    add_major(QStringLiteral("甲"));
    add_minor(QStringLiteral("乙"));
    ScriptedDialogs second_dialogs;
    second_dialogs.expect_message(QStringLiteral("已经有其他程序打开了数据库，现在以只读开启，只能查看不能保存。"));
    TForm2 second(second_dialogs);
    second.FormCreate(*settings);
    second_dialogs.verify_done();
    second_dialogs.clear_shown();
    const QString before = test::dump_database(form->store.main());

    second.catalogue_pane()->major_list()->setCurrentRow(1);
    second.catalogue_pane()->minor_list()->setCurrentRow(0);
    second.note.noteId = 1;
    for (int target : {1, 2, 3}) {
        second.selection.select = target;
        for (auto handler : {&TForm2::new_major_category, &TForm2::delete_major_category, &TForm2::new_minor_category,
                             &TForm2::delete_minor_category, &TForm2::pin_to_top, &TForm2::move_up, &TForm2::move_down,
                             &TForm2::unpin, &TForm2::rename_selected})
            (second.*handler)();
    }
    for (QToolButton *b : {second.commands().button("ToolButton1"), second.commands().button("ToolButton2"),
                           second.commands().button("ToolButton3"), second.commands().button("ToolButton4"),
                           second.commands().button("ToolButton12"), second.commands().button("ToolButton13"),
                           second.commands().button("ToolButton14"), second.commands().button("ToolButton16"),
                           second.commands().button("ToolButton17")})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(second_dialogs.shown().isEmpty());
    EXPECT_EQ(test::dump_database(form->store.main()), before);
    EXPECT_FALSE(second.store.changed());
}

TEST_F(CatalogueWindowTest, EntriesAreDrawnOnTheLightBackgroundAndReadable)
{
    add_major(QStringLiteral("甲"));
    add_major(QStringLiteral("工作 50%"));
    pick_major(1);
    add_minor(QStringLiteral("会议记录"));
    add_minor(QStringLiteral("读书'笔记"));
    pick_minor(1);
    form->resize(1117, 760);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QListWidget *l = form->catalogue_pane()->major_list();
    const QRect row0 = l->visualItemRect(l->item(0));
    const QRect row1 = l->visualItemRect(l->item(1));
    EXPECT_EQ(row1.height(), form->catalogue_pane()->item_height());
    EXPECT_EQ(l->item(1)->data(Qt::DisplayRole).toString(), QStringLiteral("甲"));
    const QImage img = l->viewport()->grab().toImage();
    if (qEnvironmentVariableIsSet("YUNSHAN_SCREENSHOT"))
        form->grab().save(qEnvironmentVariable("YUNSHAN_SCREENSHOT"));
    EXPECT_EQ(QColor(img.pixel(row1.right() - 2, row1.top() + 1)), QColor(228, 217, 233));
    EXPECT_EQ(QColor(img.pixel(row0.right() - 2, row0.top() + 1)), l->palette().color(QPalette::Base));
    // The text is dark, starts 4 pixels in and a quarter of the text height below the top.
    const int text_top = row1.top() + round_half_even(form->listfontheight * 0.5 / 2);
    int first_dark_x = -1, first_dark_y = -1;
    for (int y = row1.top(); y <= row1.bottom(); ++y)
        for (int x = row1.left(); x < row1.left() + 40; ++x)
            if (qGray(img.pixel(x, y)) < 100) {
                if (first_dark_y < 0)
                    first_dark_y = y;
                if (first_dark_x < 0 || x < first_dark_x)
                    first_dark_x = x;
            }
    ASSERT_GE(first_dark_y, 0) << "no text drawn";
    EXPECT_GE(first_dark_y, text_top);
    EXPECT_GE(first_dark_x, row1.left() + 4);
    EXPECT_LE(first_dark_x, row1.left() + 6);
}

// The pane on its own, with no window answering it: filling, marking rows without a click, and
// clicks (mouse and keyboard) as signals with the selected row.
TEST(CataloguePaneAlone, FillsMarksAndReportsClicks)
{
    QSplitter host;
    QFont font;
    font.setPixelSize(16);
    auto *pane = new CataloguePane(&host, font);
    ASSERT_EQ(host.count(), 2); // the two groups are the host's panes, in this order
    EXPECT_EQ(host.widget(0), host.findChild<QGroupBox *>(QStringLiteral("GroupBox1")));
    EXPECT_EQ(host.widget(1), host.findChild<QGroupBox *>(QStringLiteral("GroupBox2")));
    EXPECT_EQ(host.findChild<QListWidget *>(QStringLiteral("ListBox1")), pane->major_list());
    EXPECT_EQ(host.findChild<QListWidget *>(QStringLiteral("ListBox2")), pane->minor_list());
    EXPECT_EQ(pane->major_list()->accessibleName(), QStringLiteral("大类列表"));
    EXPECT_EQ(pane->minor_list()->accessibleName(), QStringLiteral("小类列表"));
    pane->set_item_heights(17);
    EXPECT_EQ(pane->item_height(), 26); // 25.5 rounds to even
    host.resize(400, 300);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QSignalSpy major(pane, &CataloguePane::majorClicked);
    QSignalSpy minor(pane, &CataloguePane::minorClicked);

    pane->fill_major({QStringLiteral("工作"), QStringLiteral("生活"), QStringLiteral("读书")});
    pane->fill_minor({QStringLiteral("会议")});
    pane->add_minor(QStringLiteral("周报"));
    EXPECT_EQ(pane->major_captions(), QStringList({"工作", "生活", "读书"}));
    EXPECT_EQ(pane->minor_captions(), QStringList({"会议", "周报"}));
    EXPECT_EQ(pane->major_row(), -1);
    EXPECT_EQ(pane->major_caption(), std::nullopt);
    EXPECT_EQ(pane->major_list()->visualItemRect(pane->major_list()->item(1)).height(), 26);

    pane->select_major(1);
    pane->select_minor(1);
    EXPECT_EQ(pane->major_row(), 1);
    EXPECT_EQ(pane->major_caption(), QStringLiteral("生活"));
    EXPECT_EQ(pane->minor_caption(), QStringLiteral("周报"));
    pane->select_minor(-1);
    EXPECT_EQ(pane->minor_row(), -1);
    EXPECT_EQ(major.size() + minor.size(), 0); // marking is no click

    QListWidget *l1 = pane->major_list();
    QTest::mouseClick(l1->viewport(), Qt::LeftButton, {}, l1->visualItemRect(l1->item(2)).center());
    ASSERT_EQ(major.size(), 1);
    EXPECT_EQ(major.at(0).at(0).toInt(), 2);
    QListWidget *l2 = pane->minor_list();
    QTest::mouseClick(l2->viewport(), Qt::LeftButton, {}, l2->visualItemRect(l2->item(0)).center());
    ASSERT_EQ(minor.size(), 1);
    EXPECT_EQ(minor.at(0).at(0).toInt(), 0);
    // A key that moves the current entry counts as a click, once the list has handled it.
    l1->setFocus();
    QTest::keyClick(l1, Qt::Key_Up);
    QTRY_COMPARE(major.size(), 2);
    EXPECT_EQ(major.at(1).at(0).toInt(), 1);
    QTest::keyClick(l1, Qt::Key_Up);
    QTest::keyClick(l1, Qt::Key_Up); // already at the top: no click
    QTRY_COMPARE(major.size(), 3);
    QTest::qWait(20);
    EXPECT_EQ(major.size(), 3);
    EXPECT_EQ(major.at(2).at(0).toInt(), 0);

    pane->set_major_caption(0, QStringLiteral("工作甲"));
    pane->remove_major(1);
    EXPECT_EQ(pane->major_captions(), QStringList({"工作甲", "读书"}));
    EXPECT_EQ(pane->major_row(), -1); // removing lets go of the selection
    pane->clear();
    EXPECT_EQ(pane->major_count() + pane->minor_count(), 0);
    EXPECT_EQ(major.size(), 3);
    EXPECT_EQ(minor.size(), 1);
}

} // namespace
} // namespace yunshan
