// The note list and opening a note, driven through the main window against real database files.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/tform2.h"
#include "platform/code_page.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/note_search_index.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

const QString kHex = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
const QString kStoredTime = QStringLiteral("2023-11-02 08:09:10");

// A body as the Windows rich-text control stores it: GBK text as \'hh pairs.
QByteArray richedit_rtf(const QString &text)
{
    QByteArray body;
    for (const char c : unicode_to_ansi(text)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            body.append(c);
        else
            body.append("\\'").append(QByteArray::number(b, 16).rightJustified(2, '0'));
    }
    return "{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fnil\\fcharset134 "
           "\\'cb\\'ce\\'cc\\'e5;}}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
           "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang2052 " +
           body + "\\par\r\n}\r\n";
}

QByteArray utf16_with_mark(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

QByteArray small_jpeg(int seed)
{
    QImage image(40, 20 + seed % 7, QImage::Format_RGB32);
    image.fill(QColor(seed * 2 % 256, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

struct NoteSpec {
    QString caption;
    int isDel = 0;
    int fast = 0;
    QString label;
    QVariant content; // plain-text copy as stored
    QByteArray rtf;   // empty: no rtffile row
    int px = 100;
};

class NoteListWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        start_connected();
        write_without_sync();
        exec(QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"));
        exec(QStringLiteral("insert into Section(px,classId,caption) values(200,1,'乙类')"));
    }

    int add_note(int section, const NoteSpec &n)
    {
        exec(QStringLiteral("insert into notes(label,cuanjian,put,content) values(:a,:b,:b,:c)"),
             {n.label, kStoredTime, n.content});
        const int id = static_cast<int>(form->store.main().last_insert_rowid());
        exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,caption) values(?,1,?,?,?,?,?)"),
             {n.px, section, id, n.isDel, n.fast, n.caption});
        if (!n.rtf.isEmpty())
            exec(QStringLiteral("insert into rtffile(noteId,rtf) values(?,?)"), {id, n.rtf});
        return id;
    }
    int add_plain(int section, const QString &caption, const QString &body = {}, const QString &label = {})
    {
        return add_note(section, NoteSpec{caption, 0, 0, label, QVariant(QChar(0xFEFF) + body), {}, 100});
    }

    void search(const QString &text)
    {
        form->search_box()->setText(text);
        form->search_all_notes();
    }
    qint64 changes() { return form->store.get_first_integer(QStringLiteral("select total_changes()")); }
};

TEST_F(NoteListWindowTest, EmptySearchListsAllNotesTwoHundredPerPage)
{
    for (int i = 0; i < 250; ++i)
        add_plain(1 + i % 2, QStringLiteral("笔记%1").arg(i));
    form->catalogue_pane()->major_list()->setCurrentRow(0);
    search(QString());
    EXPECT_EQ(form->list.search_flag, kSearchList);
    EXPECT_FALSE(form->list.search_highlight);
    ASSERT_EQ(form->note_list_model()->count(), 200);
    EXPECT_EQ(test::note_text(*form, 0), QStringLiteral("笔记0"));
    EXPECT_EQ(test::note_text(*form, 199), QStringLiteral("笔记199"));
    EXPECT_EQ(form->note_list_model()->note_ids().size(), 200);
    EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), -1); // the category lists let go
    EXPECT_EQ(form->catalogue_pane()->minor_list()->count(), 0);
    // The first entry is opened.
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_EQ(form->note.noteId, form->note_list_model()->note_ids().at(0));
    EXPECT_EQ(form->selection.note_index, 0);

    form->next_page();
    EXPECT_EQ(entries().size(), 50);
    EXPECT_EQ(entries().first(), QStringLiteral("笔记200"));
    form->next_page(); // past the last page: empty, view cleared
    EXPECT_EQ(entries().size(), 0);
    EXPECT_EQ(form->note.noteId, -1);
    EXPECT_TRUE(form->editor_pane()->editor()->toPlainText().isEmpty());
    form->previous_page();
    EXPECT_EQ(entries().size(), 50);
    form->previous_page();
    EXPECT_EQ(entries().size(), 200);
    dialogs.expect_message(QStringLiteral("已经到第一页"));
    form->previous_page();
    EXPECT_EQ(entries().size(), 200);
    EXPECT_EQ(form->list.search_offset, 0);
}

TEST_F(NoteListWindowTest, SearchFindsCaptionsTagLinesAndBodiesButNoCiphertext)
{
    add_plain(1, QStringLiteral("会议记录"), QStringLiteral("无关"));
    add_plain(1, QStringLiteral("正文命中"), QStringLiteral("今年的预算很紧"));
    add_plain(1, QStringLiteral("标签命中"), QStringLiteral("无关"), QStringLiteral("预算"));
    add_note(1, NoteSpec{kHex + kHex, 1, 0, QStringLiteral("预算"), QVariant(QStringLiteral("预算 12 a")), {}, 100});
    add_note(1, NoteSpec{kHex + QStringLiteral(":ppp预算表"),
                         2,
                         0,
                         QStringLiteral("预算"),
                         QVariant(QStringLiteral("预算")),
                         {},
                         100});
    add_plain(1, QStringLiteral("Budget 2024"), QStringLiteral("plan"));

    struct Case {
        QString text;
        QStringList found;
    };
    const Case cases[] = {
        {QStringLiteral("预算"), {QStringLiteral("正文命中"), QStringLiteral("标签命中"), QStringLiteral("预算表")}},
        {QStringLiteral("12"), {}}, // hex digits of encrypted captions are not searched
        {QStringLiteral("C"), {}},
        {QStringLiteral("ppp"), {}}, // nor the separator of body-only captions
        {QStringLiteral("budget"), {QStringLiteral("Budget 2024")}},
        {QStringLiteral("会%录"), {QStringLiteral("会议记录")}},
        {QStringLiteral("会_记录"), {QStringLiteral("会议记录")}},
        {QStringLiteral("it's"), {}},
    };
    for (const Case &c : cases) {
        search(c.text);
        EXPECT_EQ(entries(), c.found) << c.text.toStdString();
    }
}

TEST_F(NoteListWindowTest, SearchGoesThroughTheIndexOnceBuiltAndSeesEveryWrite)
{
    add_plain(1, QStringLiteral("早餐"), QStringLiteral("豆浆油条"));
    const int lunch = add_plain(1, QStringLiteral("午餐"), QStringLiteral("米饭"));
    auto *index = form->findChild<NoteSearchIndex *>();
    ASSERT_NE(index, nullptr);
    QSignalSpy built(index, &NoteSearchIndex::build_finished);
    search(QStringLiteral("豆浆")); // the plain statement answers while the index builds
    EXPECT_EQ(entries(), QStringList{QStringLiteral("早餐")});
    if (index->building()) {
        ASSERT_TRUE(built.wait(60000));
    }
    ASSERT_TRUE(index->ready());

    exec(QStringLiteral("update notes set content=? where id=?"), {QStringLiteral("豆浆面包"), lunch});
    ASSERT_TRUE(index->search(QStringLiteral("豆浆"), 0).has_value());
    search(QStringLiteral("豆浆"));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("早餐"), QStringLiteral("午餐")}));
    exec(QStringLiteral("update title set px=1 where noteId=?"), {lunch});
    search(QStringLiteral("豆浆"));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("午餐"), QStringLiteral("早餐")}));
}

TEST_F(NoteListWindowTest, ALargeIndexBuildShowsItsProgressInTheStatusBar)
{
    auto *index = form->findChild<NoteSearchIndex *>();
    ASSERT_NE(index, nullptr);
    Q_EMIT index->build_progress(500, 1000); // small builds pass unnoticed
    EXPECT_EQ(form->panel(6), QString());
    Q_EMIT index->build_progress(2500, 10000);
    EXPECT_EQ(form->panel(6), QStringLiteral("正在建立搜索索引 25%"));
    Q_EMIT index->build_finished();
    EXPECT_EQ(form->panel(6), QString());
}

TEST_F(NoteListWindowTest, SearchHighlightAndSilentFindOnOpening)
{
    add_plain(1, QStringLiteral("无关标题"), QStringLiteral("第一段\n这里有预算数字"));
    add_plain(1, QStringLiteral("预算表"), QStringLiteral("正文没有"));
    add_plain(1, QStringLiteral("Budget"), QStringLiteral("see the BUDGET below"));
    search(QStringLiteral("预算"));
    ASSERT_EQ(entries(), QStringList({QStringLiteral("无关标题"), QStringLiteral("预算表")}));
    EXPECT_TRUE(form->list.search_highlight);
    // The body match of the first entry is selected silently.
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectedText(), QStringLiteral("预算"));
    // A title-only match selects nothing and says nothing.
    click_entry(1);
    EXPECT_EQ(form->note.noteId, form->note_list_model()->note_ids().at(1));
    EXPECT_FALSE(form->editor_pane()->editor()->textCursor().hasSelection());
    // Letter case is ignored by the find.
    search(QStringLiteral("budget"));
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectedText(), QStringLiteral("BUDGET"));
    // A minor-category fill ends the highlight.
    show_section(QStringLiteral("甲类"));
    EXPECT_FALSE(form->list.search_highlight);
    EXPECT_EQ(form->list.search_flag, kSectionList);
}

TEST_F(NoteListWindowTest, EncryptedNotesInTheListsAndOnOpening)
{
    const int plain = add_plain(1, QStringLiteral("普通"), QStringLiteral("正文"));
    add_note(1, NoteSpec{kHex + kHex, 1, 1, QStringLiteral("X"), QVariant(kHex), {}, 100});
    add_note(1, NoteSpec{kHex + QStringLiteral(":ppp仅内容加密"), 2, 0, {}, QVariant(kHex), {}, 100});
    // A fresh list opens its first entry, which asks for the password: empty stops silently.
    dialogs.expect_password(QStringLiteral("密码"), QString());
    form->list_encrypted_notes();
    ASSERT_EQ(entries(), QStringList({QStringLiteral("******"), QStringLiteral("仅内容加密")}));
    EXPECT_EQ(test::note_modes(*form), QList<int>({1, 2}));
    EXPECT_EQ(test::note_favourites(*form), QList<bool>({true, false}));
    EXPECT_EQ(form->note_list_pane()->current_row(), -1);
    EXPECT_EQ(form->note.noteId, -1);
    show_section(QStringLiteral("甲类"));
    ASSERT_EQ(entries().size(), 3);
    click_entry(0);
    ASSERT_EQ(form->note.noteId, plain);

    dialogs.expect_password(QStringLiteral("密码"), QString());
    click_entry(1);
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_EQ(form->note.noteId, plain);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文"));
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("secret"));
    dialogs.expect_message(QStringLiteral("密码错误！"));
    click_entry(2);
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_EQ(form->note.noteId, plain);
}

TEST_F(NoteListWindowTest, PagingStartsAgainInAnotherMinorCategory)
{
    for (int i = 0; i < 450; ++i)
        add_note(1, NoteSpec{QStringLiteral("甲%1").arg(i), 0, 0, {}, {}, {}, i});
    for (int i = 0; i < 10; ++i)
        add_note(2, NoteSpec{QStringLiteral("乙%1").arg(i), 0, 0, {}, {}, {}, 10 - i});
    show_section(QStringLiteral("甲类"));
    EXPECT_EQ(entries().size(), 200);
    EXPECT_EQ(form->selection.section_index, 0);
    EXPECT_EQ(form->note_list_pane()->current_row(), -1); // no entry is opened
    EXPECT_EQ(form->note.noteId, -1);
    form->next_page();
    form->next_page();
    ASSERT_EQ(entries().size(), 50);
    EXPECT_EQ(entries().first(), QStringLiteral("甲400"));
    show_section(QStringLiteral("乙类"));
    ASSERT_EQ(entries().size(), 10);
    EXPECT_EQ(entries().first(), QStringLiteral("乙9")); // ordered by px
    EXPECT_EQ(form->list.search_offset, 0);
    EXPECT_EQ(form->selection.section_index, 1);
    dialogs.expect_message(QStringLiteral("已经到第一页"));
    form->previous_page();
}

TEST_F(NoteListWindowTest, FavouritesAreWrittenToBothDatabasesOnlyWhenChanged)
{
    const int id = add_plain(1, QStringLiteral("常用候选"), QStringLiteral("x"));
    add_plain(1, QStringLiteral("其他"), QStringLiteral("y"));
    show_section(QStringLiteral("甲类"));
    dialogs.expect_message(QStringLiteral("请先新建或者打开一个笔记以添加。"));
    form->add_to_favourites();
    dialogs.expect_message(QStringLiteral("请先新建或者打开一个笔记以取消常用标记。"));
    form->remove_from_favourites();

    click_entry(0);
    ASSERT_EQ(form->note.noteId, id);
    form->add_to_favourites();
    EXPECT_TRUE(test::note_favourites(*form).at(0));
    const QString fast = QStringLiteral("select fast from title where noteId=") + QString::number(id);
    EXPECT_EQ(form->store.get_first_integer(fast), 1);
    test::expect_mirror_identical(form->store);
    qint64 before = changes();
    form->add_to_favourites(); // already a favourite: nothing is written
    EXPECT_EQ(changes(), before);

    form->list_favourites();
    ASSERT_EQ(entries(), QStringList({QStringLiteral("常用候选")}));
    ASSERT_EQ(form->note.noteId, id);
    form->remove_from_favourites();
    EXPECT_EQ(form->store.get_first_integer(fast), 0);
    EXPECT_EQ(entries().size(), 1); // stays listed until the list is filled again
    before = changes();
    form->remove_from_favourites();
    EXPECT_EQ(changes(), before);
    test::expect_mirror_identical(form->store);
}

// A second instance reads the notes but refuses the favourite and encryption commands: their
// context-menu entries are off, the main menu's say why, and no list mark changes.
TEST_F(NoteListWindowTest, ReadOnlyInstanceRefusesFavouritesAndEncryption)
{
    add_plain(1, QStringLiteral("普通"), QStringLiteral("x"));
    add_note(1, NoteSpec{QStringLiteral("常用"), 0, 1, {}, QVariant(QStringLiteral("\uFEFFy")), {}, 102});
    const QString read_only = QStringLiteral("已经有其他程序打开了数据库，现在以只读开启，只能查看不能保存。");
    ScriptedDialogs second_dialogs;
    second_dialogs.expect_message(read_only);
    TForm2 second(second_dialogs);
    second.FormCreate(*settings);
    second_dialogs.verify_done();
    const QString before = test::dump_database(form->store.main());

    second.catalogue_pane()->minor_list()->setCurrentRow(0);
    second.open_minor_category();
    ASSERT_EQ(second.note_list_model()->count(), 2);
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        test::choose_note(second, row);
        ASSERT_EQ(second.note.noteId, second.note_list_model()->note_ids().at(row));
        second.update_note_list_menu();
        for (QAction *a :
             {second.commands().action("Popup2AddFavourite"), second.commands().action("Popup2RemoveFavourite"),
              second.commands().action("Popup2EncryptTitle"), second.commands().action("Popup2EncryptContent"),
              second.commands().action("Popup2Decrypt")})
            EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
        second.update_editor_menu();
        for (QAction *a : {second.commands().action("Popup1EncryptTitle"),
                           second.commands().action("Popup1EncryptContent"), second.commands().action("Popup1Decrypt")})
            EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
        for (QAction *a :
             {second.commands().action("N73"), second.commands().action("N74"), second.commands().action("N41"),
              second.commands().action("N67"), second.commands().action("N42")}) {
            second_dialogs.expect_message(read_only);
            a->trigger();
        }
        second_dialogs.verify_done();
        EXPECT_EQ(test::note_favourites(second), QList<bool>({false, true}));
        EXPECT_EQ(test::note_modes(second), QList<int>({0, 0}));
        EXPECT_EQ(second.crypt.is_crypt, 0);
        EXPECT_FALSE(second.save_enabled());
    }
    EXPECT_EQ(test::dump_database(form->store.main()), before);
}

TEST_F(NoteListWindowTest, UnsavedChangesCancelKeepsTheNoteAndNoDropsTheAutosave)
{
    const int a = add_plain(1, QStringLiteral("甲笔记"), QStringLiteral("甲正文"));
    const int b = add_plain(1, QStringLiteral("乙笔记"), QStringLiteral("乙正文"));
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    ASSERT_EQ(form->note.noteId, a);
    form->editor_pane()->editor()->setPlainText(QStringLiteral("改过的甲正文"));
    form->set_save_enabled(true);
    const QString autosave = tmp + QStringLiteral("/") + QString::number(a) + QStringLiteral(".rtf");
    TempFolder::write(autosave, "{\\rtf1 x}");

    // Clicking the open entry asks nothing.
    click_entry(0);
    dialogs.expect_question3(QStringLiteral("有笔记没保存，是否保存？"), Dialogs::Answer::Cancel);
    click_entry(1);
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_EQ(form->note.noteId, a);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("改过的甲正文"));
    EXPECT_TRUE(form->save_enabled());
    EXPECT_TRUE(QFile::exists(autosave));

    // A search keeps the edited note in the view and opens nothing.
    search(QStringLiteral("笔记"));
    EXPECT_EQ(entries().size(), 2);
    EXPECT_EQ(form->note_list_pane()->current_row(), -1);
    EXPECT_EQ(form->note.noteId, a);
    EXPECT_TRUE(form->save_enabled());

    dialogs.expect_question3(QStringLiteral("有笔记没保存，是否保存？"), Dialogs::Answer::No);
    click_entry(1);
    EXPECT_FALSE(QFile::exists(autosave));
    EXPECT_EQ(form->note.noteId, b);
    EXPECT_EQ(form->note.noteId_bei, b);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("乙正文"));
    EXPECT_FALSE(form->save_enabled());
    EXPECT_EQ(form->find_open_note_index(), 1);
}

TEST_F(NoteListWindowTest, RichAndPlainBodiesOfTheWindowsProgramOpenExactly)
{
    const QString text = QStringLiteral("会议纪要：镕堃喆，预算 100 元 # 标题");
    const int rich = add_note(1, NoteSpec{QStringLiteral("富文本"), 0, 0, QStringLiteral("标签一"),
                                          QVariant(QChar(0xFEFF) + text), richedit_rtf(text), 100});
    const QString plain_text = QStringLiteral("第一行 ABC\n镕堃喆 😀 第二行");
    add_note(
        1,
        NoteSpec{
            QStringLiteral("纯文本"), 0, 0, QStringLiteral("标签二"), QVariant(utf16_with_mark(plain_text)), {}, 100});
    add_note(
        1, NoteSpec{QStringLiteral("旧文本"), 0, 0, {}, QVariant(QChar(0xFEFF) + QStringLiteral("旧的正文")), {}, 100});
    show_section(QStringLiteral("甲类"));
    // Opening notes one after another (each with a tag line) never enables the save commands, not
    // even for a moment.
    struct EnabledChanges : QObject {
        int count = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            count += e->type() == QEvent::EnabledChange;
            return false;
        }
    } save_changes;
    for (const char *name : {"ToolButtonSave", "SpeedButton2"})
        form->findChild<QToolButton *>(QString::fromLatin1(name))->installEventFilter(&save_changes);

    click_entry(0);
    EXPECT_EQ(form->note.noteId, rich);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), text);
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("富文本"));
    EXPECT_EQ(form->tag_field()->text(), QStringLiteral("标签一"));
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    // Plain and rich-text notes show their update time in the same form.
    const QDateTime t = QDateTime::fromString(kStoredTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString update_time = QStringLiteral("笔记更新时间:") +
                                QLocale::system().toString(t.date(), QLocale::ShortFormat) +
                                QStringLiteral(" 08:09:10");
    EXPECT_EQ(form->panel(5), update_time);
    EXPECT_FALSE(form->note_list_pane()->tabs()->tabIcon(1).isNull()); // "#" in the body
    EXPECT_FALSE(form->save_enabled());
    EXPECT_EQ(form->note.title_mark, ChangeMark::Unchanged);
    EXPECT_EQ(form->note.body_mark, ChangeMark::Unchanged);
    EXPECT_EQ(form->selection.select, 3);

    click_entry(1);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), plain_text);
    EXPECT_EQ(form->tag_field()->text(), QStringLiteral("标签二"));
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
    EXPECT_EQ(form->panel(5), update_time);
    EXPECT_TRUE(form->note_list_pane()->tabs()->tabIcon(1).isNull());

    click_entry(2);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("旧的正文"));
    EXPECT_EQ(save_changes.count, 0);
}

TEST_F(NoteListWindowTest, NoteWithoutRowsOpensEmpty)
{
    exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(1,1,1,777,'孤儿')"));
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    EXPECT_EQ(form->note.noteId, 777);
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("孤儿"));
    EXPECT_TRUE(form->editor_pane()->editor()->toPlainText().isEmpty());
    EXPECT_TRUE(form->tag_field()->text().isEmpty());
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
    EXPECT_TRUE(form->panel(5).isEmpty());
}

TEST_F(NoteListWindowTest, AtMostOneHundredThumbnails)
{
    const int id = add_plain(1, QStringLiteral("很多图片"), QStringLiteral("x"));
    const int small = add_plain(1, QStringLiteral("两张图片"), QStringLiteral("y"));
    for (int i = 0; i < 101; ++i)
        exec(QStringLiteral("insert into picture(articleId,img) values(?,?)"), {id, small_jpeg(i)});
    exec(QStringLiteral("insert into picture(articleId,img) values(?,?)"), {small, small_jpeg(1)});
    exec(QStringLiteral("insert into picture(articleId,img) values(?,?)"), {small, QByteArray("damaged")});
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    const PicturePane *pane = form->picture_pane();
    int shown = 0;
    for (int slot = 0; slot < ThumbnailSlots::kSlots; ++slot)
        shown += pane->thumbnail(slot) != nullptr;
    EXPECT_EQ(shown, 100);
    const int hundredth = static_cast<int>(form->store.get_first_integer(
        QStringLiteral("select id from picture where articleId=%1 order by id limit 1 offset 99").arg(id)));
    EXPECT_EQ(pane->thumbnail(99)->property("picture_id").toInt(), hundredth);
    EXPECT_EQ(form->note.img_id, hundredth);
    EXPECT_EQ(pane->thumbnail(1)->y(), pane->thumbnail(0)->height() + 4);

    click_entry(1); // the slots are released; an undecodable picture still gets its slot
    ASSERT_NE(pane->thumbnail(1), nullptr);
    EXPECT_EQ(pane->thumbnail(2), nullptr);
    EXPECT_EQ(qobject_cast<QLabel *>(pane->thumbnail(1))->text(), QStringLiteral("无法显示的图片"));
}

TEST_F(NoteListWindowTest, DatabaseErrorsAreShownAndTheWindowStaysUsable)
{
    const int a = add_plain(1, QStringLiteral("甲笔记"), QStringLiteral("甲正文"));
    add_plain(1, QStringLiteral("乙笔记"), QStringLiteral("乙正文"));
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    ASSERT_EQ(form->note.noteId, a);

    // Another program holds the write lock: reading waits briefly, then reports the engine.
    form->store.main().query(QStringLiteral("PRAGMA busy_timeout=50"));
    Connection other;
    other.open(form->store.main().path());
    other.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    const QString locked = QStringLiteral("数据库文件“%1”正被其他程序占用，请稍后再试。（database is locked）")
                               .arg(form->store.main_file());
    dialogs.expect_error(locked);
    click_entry(1);
    EXPECT_EQ(form->note.noteId, a);
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("甲正文"));
    dialogs.expect_error(locked);
    search(QStringLiteral("笔记"));
    EXPECT_EQ(entries().size(), 2); // the list keeps its entries
    other.execute(QStringLiteral("ROLLBACK"));
    other.close();

    click_entry(1);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("乙正文"));
}

TEST_F(NoteListWindowTest, CorruptDatabaseFileShowsTheEnginesMessage)
{
    for (int i = 0; i < 30; ++i)
        add_plain(1, QStringLiteral("笔记%1").arg(i), QString(400, QChar(0x6587)));
    const QString path = form->store.main().path();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    for (qint64 at = 4096; at < size; at += 4096) { // every page but the first
        file.seek(at);
        file.write(QByteArray(512, '\x5A'));
    }
    // A new file change counter, as another program's write leaves it: the page cache goes.
    file.seek(24);
    QByteArray counter = file.read(4);
    counter[3] = static_cast<char>(counter[3] + 1);
    file.seek(24);
    file.write(counter);
    file.close();
    dialogs.expect_containing(Kind::Error, QStringLiteral("malformed"));
    show_section(QStringLiteral("甲类"));
    EXPECT_EQ(entries().size(), 0);
    dialogs.expect_message(QStringLiteral("已经到第一页")); // the window still answers
    form->previous_page();
}

TEST_F(NoteListWindowTest, KeyboardSelectionOpensAndFocusAloneDoesNot)
{
    add_plain(1, QStringLiteral("第一篇"), QStringLiteral("一"));
    const int second = add_plain(1, QStringLiteral("第二篇"), QStringLiteral("二"));
    form->show();
    show_section(QStringLiteral("甲类"));
    test::note_list(*form)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(form->note.noteId, -1);
    QTest::keyClick(test::note_list(*form), Qt::Key_Down);
    QTest::keyClick(test::note_list(*form), Qt::Key_Down);
    EXPECT_EQ(form->note.noteId, second);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("二"));
}

TEST_F(NoteListWindowTest, EnterInTheSearchBoxIsConsumed)
{
    add_plain(1, QStringLiteral("回车搜索"), QStringLiteral("x"));
    form->search_box()->setText(QStringLiteral("回车"));
    QSignalSpy return_pressed(form->search_box(), &QLineEdit::returnPressed);
    QTest::keyClick(form->search_box(), Qt::Key_Return);
    EXPECT_EQ(return_pressed.count(), 0);
    EXPECT_EQ(entries(), QStringList({QStringLiteral("回车搜索")}));
}

TEST_F(NoteListWindowTest, HintOnlyForEntriesWiderThanTheList)
{
    add_plain(1, QStringLiteral("短"));
    add_plain(1, QString(80, QChar(0x957F)));
    NoteListPane *pane = form->note_list_pane();
    EXPECT_EQ(pane->scroll_width(), 0);
    form->show();
    show_section(QStringLiteral("甲类"));
    QListView *l = test::note_list(*form);
    const auto entry_rect = [l](int row) { return l->visualRect(l->model()->index(row, 0)); };
    // The horizontal scroll range is twice the list's width at start-up.
    EXPECT_GT(l->width(), 150);
    EXPECT_EQ(pane->scroll_width(), 2 * l->width());
    EXPECT_EQ(entry_rect(0).width(), 2 * l->width());
    form->note_list_hover(entry_rect(1).center());
    EXPECT_EQ(form->hintout, 500);
    EXPECT_EQ(pane->hint(), QString(80, QChar(0x957F)));
    EXPECT_EQ(pane->hint_row(), 1);
    form->note_list_hover(entry_rect(0).center());
    EXPECT_EQ(form->hintout, 0);
    EXPECT_TRUE(pane->hint().isEmpty());
    form->note_list_hover(entry_rect(1).center());
    form->note_list_left();
    EXPECT_EQ(form->hintout, 0);
    form->note_list_hover(QPoint(5, l->viewport()->height() - 2)); // below the last entry
    EXPECT_EQ(form->list.hits_index, -1);
}

TEST_F(NoteListWindowTest, EntriesAreDrawnWithSelectionColourRedMatchAndMarks)
{
    add_plain(1, QStringLiteral("年度预算"), QStringLiteral("x"));
    add_note(1, NoteSpec{kHex + QStringLiteral(":ppp预算加密"), 2, 1, {}, QVariant(kHex), {}, 100});
    form->resize(1117, 760);
    form->show();
    search(QStringLiteral("预算"));
    ASSERT_EQ(entries().size(), 2);
    const QImage image = test::note_list(*form)->viewport()->grab().toImage();
    const QRect row0 = test::note_list(*form)->visualRect(form->note_list_model()->index(0));
    const QRect row1 = test::note_list(*form)->visualRect(form->note_list_model()->index(1));
    auto count = [&](const QRect &r, auto pred) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x < qMin(r.right(), image.width()); ++x)
                n += pred(image.pixelColor(x, y));
        return n;
    };
    auto selected_bg = [](const QColor &c) { return c == QColor(228, 217, 233); };
    auto red = [](const QColor &c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
    auto gold = [](const QColor &c) { return c.red() > 180 && c.green() > 120 && c.blue() < 80; };
    EXPECT_GT(count(row0, selected_bg), 100); // the opened first entry is selected
    EXPECT_EQ(count(row1, selected_bg), 0);
    EXPECT_GT(count(row0, red), 10);
    EXPECT_GT(count(row1, red), 10);
    EXPECT_EQ(count(row0, gold), 0);
    EXPECT_GT(count(row1, gold), 5); // lock and favourite pictures
    // The pictures stand clear of the title: the red match at its start begins right of them.
    int gold_right = -1;
    int red_left = image.width();
    for (int y = row1.top(); y <= row1.bottom(); ++y)
        for (int x = row1.left(); x < qMin(row1.right(), image.width()); ++x) {
            if (gold(image.pixelColor(x, y)))
                gold_right = qMax(gold_right, x);
            if (red(image.pixelColor(x, y)))
                red_left = qMin(red_left, x);
        }
    EXPECT_LT(gold_right, red_left);
    // Each entry's text is its display data; screen readers also hear what the drawing shows.
    EXPECT_EQ(form->note_list_model()->index(1).data(Qt::DisplayRole).toString(), QStringLiteral("预算加密"));
    QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(test::note_list(*form))->tableInterface();
    ASSERT_TRUE(table);
    const struct {
        int row;
        QString name, description;
    } cases[] = {
        {0, QStringLiteral("年度预算"), QStringLiteral("第1条，含“预算”")},
        {1, QStringLiteral("预算加密"), QStringLiteral("第2条，已收藏，已加密，含“预算”")},
    };
    for (const auto &c : cases) {
        QAccessibleInterface *cell = table->cellAt(c.row, 0);
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->text(QAccessible::Name), c.name);
        EXPECT_EQ(cell->text(QAccessible::Description), c.description);
    }
}

} // namespace
} // namespace yunshan
