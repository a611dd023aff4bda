// Note encryption through the main window against real database files: the commands, unlocking
// an entry, the marks when a note is left unsaved, the legacy form, and what reaches the disk.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/tform2.h"
#include "crypto/note_crypt.h"
#include "editor/note_loader.h"
#include "editor/rtf/rtf.h"
#include "legacy_form.h"
#include "platform/code_page.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "platform/settings_store.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

namespace yunshan {
namespace {

using test::legacy_hex;

using test::ScriptedDialogs;
using test::TempFolder;
using Answer = Dialogs::Answer;

const QString kPut = QStringLiteral("2023-11-02 08:09:10");
const QString kUnsaved = QStringLiteral("有笔记没保存，是否保存？");

QByteArray small_jpeg()
{
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(QColor(20, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

class NoteCryptWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        start_connected();
        exec(QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"));
        exec(QStringLiteral("insert into Section(px,classId,caption) values(200,1,'乙类')"));
    }

    // A note stored in `mode` by the program's own rules (plain fields, password).
    int add_note(int section, const PlainNoteFields &fields, int mode = 0, const QString &password = {}, int px = 100)
    {
        exec(QStringLiteral(
            "insert into notes(isDel,cuanjian,put) values(0,'2023-11-02 08:09:10','2023-11-02 08:09:10')"));
        const int id = static_cast<int>(form->store.main().last_insert_rowid());
        exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(?,1,?,?,'')"),
             {px, section, id});
        write_encoded_note(form->store, id, encode_note_fields(fields, mode, password), kPut);
        return id;
    }

    void passwords(const QString &pw)
    {
        dialogs.expect_password(QStringLiteral("密码"), pw);
        dialogs.expect_password(QStringLiteral("密码"), pw);
    }
    QString stored(const QString &column_sql, int id)
    {
        return form->store.get_first_string(column_sql + QString::number(id));
    }
    QString caption_of(int id) { return stored(QStringLiteral("select caption from title where noteId="), id); }
    qint64 mode_of(int id)
    {
        return form->store.get_first_integer(QStringLiteral("select isDel from title where noteId=") +
                                             QString::number(id));
    }

    // The save as the save command does it for the fields of the open note, in its stored form.
    void save_open_note()
    {
        OpenNoteState &n = form->note;
        const QByteArray copy = plain_text_copy(*form->editor_pane()->editor()->document());
        PlainNoteFields fields;
        fields.title = form->title_field()->text();
        fields.label = form->tag_field()->text();
        fields.plain_text =
            QString::fromUtf16(reinterpret_cast<const char16_t *>(copy.constData() + 2), (copy.size() - 2) / 2);
        if (n.is_rtf == BodyKind::Rtf)
            fields.rtf = write_rtf(*form->editor_pane()->editor()->document());
        NoteCryptState &crypt = form->crypt;
        const EncodedNoteFields encoded = encode_note_fields(fields, crypt.is_crypt, crypt.key_crypt);
        crypt.is_crypt = encoded.isDel;
        write_encoded_note(form->store, n.noteId, encoded, kPut);
        note_saved(crypt);
        form->note_list_model()->set_mode(n.noteId, encoded.isDel);
        const int row = form->find_open_note_index();
        form->note_list_model()->set_text(row, fields.title);
        n.title_mark = n.body_mark = ChangeMark::Unchanged;
        form->set_save_enabled(false);
    }

    void append_to_body(const QString &text)
    {
        QTextCursor c = form->editor_pane()->editor()->textCursor();
        c.movePosition(QTextCursor::End);
        form->editor_pane()->editor()->setTextCursor(c);
        QInputMethodEvent typed; // as an input method commits Chinese text
        typed.setCommitString(text);
        QApplication::sendEvent(form->editor_pane()->editor(), &typed);
        ASSERT_TRUE(form->save_enabled());
    }
    // The autosave timer runs through one whole cycle.
    void autosave_now()
    {
        for (int i = 0; i < form->autosave.cycle_seconds; ++i)
            form->autosave_timer_tick();
    }
    QString autosave_file(int id) const { return autosave_path(form->run.tmp_save, id); }
    // The program starts again on the same folders; a pending autosave is recovered while the
    // window is created (the first minor category, "甲类", is selected then).
    void restart() { start(); }
};

TEST_F(NoteCryptWindowTest, EncryptWithTitleSaveAndOpenWithThePassword)
{
    const int plain = add_note(1, {QStringLiteral("普通"), {}, QStringLiteral("普通正文"), {}});
    const int id = add_note(1, {QStringLiteral("会议记录"), QStringLiteral("私人"), QStringLiteral("绝密的正文"), {}});
    exec(QStringLiteral("insert into picture(articleId,img) values(?,?)"), {id, small_jpeg()});
    show_section(QStringLiteral("甲类"));
    click_entry(1);
    ASSERT_EQ(form->note.noteId, id);

    passwords(QStringLiteral("pw1"));
    form->commands().action("N41")->trigger();
    EXPECT_EQ(test::note_modes(*form), QList<int>({0, 1}));
    EXPECT_TRUE(form->save_enabled());
    EXPECT_EQ(mode_of(id), 0); // nothing written before the save
    save_open_note();
    EXPECT_EQ(mode_of(id), 1);
    test::expect_mirror_identical(form->store);

    show_section(QStringLiteral("甲类"));
    EXPECT_EQ(entries(), QStringList({QStringLiteral("普通"), QStringLiteral("******")}));
    click_entry(0);
    ASSERT_EQ(form->note.noteId, plain);
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("PW1"));
    dialogs.expect_message(QStringLiteral("密码错误！"));
    click_entry(1);
    EXPECT_EQ(form->note.noteId, plain);
    EXPECT_EQ(form->note_list_pane()->current_row(), 0);
    EXPECT_TRUE(form->crypt.key_crypt.isEmpty());

    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw1"));
    click_entry(1);
    ASSERT_EQ(form->note.noteId, id);
    EXPECT_EQ(form->crypt.is_crypt, 1);
    EXPECT_EQ(form->crypt.key_crypt, QStringLiteral("pw1"));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("会议记录"));
    EXPECT_EQ(entries().at(1), QStringLiteral("会议记录"));
    EXPECT_EQ(form->tag_field()->text(), QStringLiteral("私人"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("绝密的正文"));
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
    EXPECT_NE(form->picture_pane()->thumbnail(0), nullptr); // pictures need no password
    EXPECT_FALSE(form->save_enabled());

    // Leaving it forgets the password.
    click_entry(0);
    EXPECT_TRUE(form->crypt.key_crypt.isEmpty());
}

TEST_F(NoteCryptWindowTest, ContentOnlyKeepsTheTitleReadableAndWhole)
{
    const QString title = QStringLiteral("长:ppp") + QString(600, QChar(u'题'));
    const int id =
        add_note(1, {title, QStringLiteral("标签"), QStringLiteral("正文"), QByteArray("{\\rtf1 \\b x\\b0\\par}")});
    const int other = add_note(1, {QStringLiteral("另一个"), {}, {}, {}}, 0, {}, 200);
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    passwords(QStringLiteral("密"));
    form->commands().action("N67")->trigger();
    save_open_note();
    const QString caption = caption_of(id);
    EXPECT_EQ(caption.indexOf(QStringLiteral(":ppp")), 32);
    EXPECT_EQ(caption.mid(36), title);
    EXPECT_EQ(stored(QStringLiteral("select label from notes where id="), id), QStringLiteral("标签"));

    show_section(QStringLiteral("甲类"));
    EXPECT_EQ(entries().at(0), title.left(555));
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("密"));
    click_entry(0);
    ASSERT_EQ(form->note.noteId, id);
    EXPECT_EQ(form->title_field()->text(), title); // from the stored caption, not the shortened entry
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("x"));
    // A save of the title keeps it whole.
    save_open_note();
    EXPECT_EQ(caption_of(id).mid(36), title);

    // Switching to the other mode keeps the password; the note opens again without a refill.
    dialogs.expect_message(
        QStringLiteral("加密类型已经更改为全加密，密码不变。如果要更改密码，请先取消加密，再重新加密。"));
    form->commands().action("Popup1EncryptTitle")->trigger();
    save_open_note();
    EXPECT_EQ(mode_of(id), 1);
    ASSERT_EQ(form->note_list_model()->note_ids(), QList<int>({id, other}));
    EXPECT_EQ(test::note_modes(*form), QList<int>({1, 0}));
    click_entry(1);
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("密"));
    click_entry(0);
    EXPECT_EQ(form->note.noteId, id);
    EXPECT_EQ(form->title_field()->text(), title);
}

TEST_F(NoteCryptWindowTest, LeavingUnsavedPutsTheMarksBackByNote)
{
    const int locked = add_note(1, {QStringLiteral("锁住的"), {}, QStringLiteral("机密"), {}}, 1, QStringLiteral("pw"));
    const int plain = add_note(1, {QStringLiteral("普通"), {}, QStringLiteral("公开"), {}});
    show_section(QStringLiteral("甲类"));

    // Remove the encryption, then leave answering No: the entry is locked as before.
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw"));
    click_entry(0);
    form->commands().action("Popup2Decrypt")->trigger();
    EXPECT_EQ(test::note_modes(*form), QList<int>({0, 0}));
    dialogs.expect_question3(kUnsaved, Answer::No);
    click_entry(1);
    EXPECT_EQ(form->note.noteId, plain);
    EXPECT_EQ(test::note_modes(*form), QList<int>({1, 0}));
    EXPECT_EQ(mode_of(locked), 1);
    dialogs.expect_password(QStringLiteral("密码"), QString()); // asks again; giving up keeps "普通"
    click_entry(0);
    EXPECT_EQ(form->note.noteId, plain);

    // Encrypt the plain note, show another minor category without saving (the note stays open),
    // open an entry there answering No: the note of the same list position there keeps its mark.
    const int other_locked =
        add_note(2, {QStringLiteral("乙的锁"), {}, QStringLiteral("乙"), {}}, 2, QStringLiteral("x"));
    passwords(QStringLiteral("new"));
    form->commands().action("N67")->trigger();
    EXPECT_EQ(test::note_modes(*form), QList<int>({1, 2}));
    show_section(QStringLiteral("乙类"));
    ASSERT_EQ(form->note_list_model()->note_ids(), QList<int>({other_locked}));
    EXPECT_EQ(form->note.noteId, plain);
    dialogs.expect_question3(kUnsaved, Answer::No);
    dialogs.expect_password(QStringLiteral("密码"), QString());
    click_entry(0);
    EXPECT_EQ(test::note_modes(*form), QList<int>({2}));
    // The plain note is still shown: it is plain again, in memory as in the database.
    EXPECT_EQ(form->note.noteId, plain);
    EXPECT_EQ(form->crypt.is_crypt, 0);
    EXPECT_TRUE(form->crypt.key_crypt.isEmpty());
    show_section(QStringLiteral("甲类"));
    EXPECT_EQ(test::note_modes(*form), QList<int>({1, 0}));
    click_entry(1); // opens without a password
    EXPECT_EQ(form->note.noteId, plain);
}

TEST_F(NoteCryptWindowTest, RenameWaitsForTheSaveOfAModeChange)
{
    const int id = add_note(1, {QStringLiteral("原名"), {}, {}, {}});
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    passwords(QStringLiteral("pw"));
    form->commands().action("N41")->trigger();
    dialogs.expect_message(QStringLiteral("此笔记的加密设置已更改但还没有保存，请先保存笔记，再重命名。"));
    form->commands().button("ToolButton17")->click();
    EXPECT_EQ(caption_of(id), QStringLiteral("原名"));
    save_open_note();
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("新名"));
    form->commands().button("ToolButton17")->click();
    EXPECT_EQ(entries(), QStringList({QStringLiteral("新名")}));
    EXPECT_EQ(unlock_caption(caption_of(id), 1, QStringLiteral("pw"))->title, QStringLiteral("新名"));
}

TEST_F(NoteCryptWindowTest, LegacyNoteOpensAndIsRewrittenInTheCurrentForm)
{
    const QString pw = QStringLiteral("旧密码");
    exec(QStringLiteral("insert into notes(label,put,content,cuanjian) values(?,?,?,'2023-11-02 08:09:10')"),
         {legacy_hex(QStringLiteral("旧标签"), pw), kPut, legacy_hex(QStringLiteral("旧的正文"), pw)});
    const int id = static_cast<int>(form->store.main().last_insert_rowid());
    exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,caption) values(100,1,1,?,1,?)"),
         {id, legacy_hex(QStringLiteral("@*crypt*旧标题"), pw)});
    show_section(QStringLiteral("甲类"));
    dialogs.expect_password(QStringLiteral("密码"), pw);
    click_entry(0);
    ASSERT_EQ(form->note.noteId, id);
    EXPECT_TRUE(form->crypt.legacy_form);
    EXPECT_EQ(form->panel(4), QStringLiteral("txt"));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("旧标题"));
    EXPECT_EQ(form->tag_field()->text(), QStringLiteral("旧标签"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("旧的正文"));
    // Renaming would write one field in the new form only.
    dialogs.expect_message(QStringLiteral("此笔记是旧版本加密的，请先修改并保存一次笔记，再重命名。"));
    form->commands().button("ToolButton17")->click();

    save_open_note();
    EXPECT_FALSE(form->crypt.legacy_form);
    const auto unlocked = unlock_caption(caption_of(id), 1, pw);
    ASSERT_TRUE(unlocked);
    EXPECT_EQ(unlocked->form, TextForm::Utf16Le);
    EXPECT_EQ(unlocked->title, QStringLiteral("旧标题"));
    EXPECT_EQ(decrypt_text(stored(QStringLiteral("select label from notes where id="), id), pw, TextForm::Utf16Le),
              QStringLiteral("旧标签"));
}

TEST_F(NoteCryptWindowTest, UnreadableBodyStopsTheOpen)
{
    const int plain = add_note(1, {QStringLiteral("普通"), {}, QStringLiteral("留着"), {}});
    const int id = add_note(1, {QStringLiteral("坏的"), {}, {}, {}}, 2, QStringLiteral("pw"));
    exec(QStringLiteral("update notes set content='not hex' where id=") + QString::number(id));
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw"));
    dialogs.expect_error(QStringLiteral("此笔记存储的内容不是有效的密文，无法解密。"));
    click_entry(1);
    EXPECT_EQ(form->note.noteId, plain);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("留着"));
    EXPECT_TRUE(form->crypt.key_crypt.isEmpty());
}

// Every file under `folder` that holds one of `texts` in UTF-8, UTF-16LE or GBK.
QStringList files_holding(const QString &folder, const QStringList &texts)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray bytes = TempFolder::read(path);
        for (const QString &t : texts) {
            const QByteArray utf16(reinterpret_cast<const char *>(t.utf16()), t.size() * 2);
            if (bytes.contains(t.toUtf8()) || bytes.contains(utf16) || bytes.contains(unicode_to_ansi(t)))
                found << path + QStringLiteral(": ") + t;
        }
    }
    return found;
}

TEST_F(NoteCryptWindowTest, NothingOfAnEncryptedNoteReachesTheDiskInPlain)
{
    const QStringList secrets = {QStringLiteral("绝密标题甲乙丙"), QStringLiteral("私人标签丁戊"),
                                 QStringLiteral("银行卡密码是七七七")};
    // Written and saved in plain first, as users do, then encrypted with title.
    const int id = add_note(1, {secrets.at(0), secrets.at(1), secrets.at(2).repeated(40), {}});
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    passwords(QStringLiteral("pw"));
    form->commands().action("N41")->trigger();
    save_open_note();
    const QString dump = test::dump_database(form->store.main());
    save_open_note(); // a second save writes identical values
    EXPECT_EQ(test::dump_database(form->store.main()), dump);
    // The autosave file of the open encrypted note, with the title and tag line it carries.
    append_to_body(QStringLiteral("又一行"));
    autosave_now();
    EXPECT_TRUE(QFile::exists(autosave_file(id)));
    form.reset(); // both databases closed
    EXPECT_EQ(files_holding(dir.path(), secrets), QStringList());
}

TEST_F(NoteCryptWindowTest, AutosaveOfAnEncryptedNoteAsksForItsPasswordAtTheNextStart)
{
    const int id = add_note(1, {QStringLiteral("会议记录"), QStringLiteral("私人"), QStringLiteral("旧正文"), {}},
                            kEncryptedWithTitle, QStringLiteral("pw"));
    show_section(QStringLiteral("甲类"));
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw"));
    click_entry(0);
    append_to_body(QStringLiteral("新增"));
    autosave_now();
    const QString file = autosave_file(id);
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_TRUE(is_encrypted_autosave(TempFolder::read(file)));

    // The program ended without saving. At the next start a cancelled entry and a wrong
    // password leave the file for the start after.
    dialogs.expect_password(QStringLiteral("密码"), QString());
    restart();
    dialogs.verify_done();
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("PW"));
    dialogs.expect_message(QStringLiteral("密码错误！"));
    restart();
    dialogs.verify_done();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_NE(form->note.noteId, id);
    EXPECT_TRUE(form->crypt.key_crypt.isEmpty());
    EXPECT_EQ(entries(), QStringList({QStringLiteral("******")}));

    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw"));
    restart();
    dialogs.verify_done();
    ASSERT_EQ(form->note.noteId, id);
    EXPECT_EQ(form->crypt.is_crypt, kEncryptedWithTitle);
    EXPECT_EQ(form->crypt.key_crypt, QStringLiteral("pw"));
    EXPECT_FALSE(form->crypt.change_pending(id));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("会议记录"));
    EXPECT_EQ(entries(), QStringList({QStringLiteral("会议记录")}));
    EXPECT_EQ(form->tag_field()->text(), QStringLiteral("私人"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("旧正文新增"));
    EXPECT_TRUE(form->save_enabled());

    form->save_open_note();
    EXPECT_FALSE(form->save_enabled());
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(mode_of(id), kEncryptedWithTitle);
    StoredNote stored = read_stored_note(form->store, id);
    decrypt_stored_note(stored, kEncryptedWithTitle, QStringLiteral("pw"), TextForm::Utf16Le);
    QTextDocument body;
    read_rtf(stored.rtf, body);
    EXPECT_EQ(body.toPlainText(), QStringLiteral("旧正文新增"));
    EXPECT_EQ(stored.label, QStringLiteral("私人"));
    test::expect_mirror_identical(form->store);
}

// A mode change that was not saved when the autosave was written is pending again after the
// recovery, and the save stores the note in the mode the user chose.
struct PendingModeCase {
    int stored_mode;
    const char *command; // the action applied before the autosave
    int mode_after;
};

class PendingModeRecoveryTest : public NoteCryptWindowTest, public ::testing::WithParamInterface<PendingModeCase> {};

TEST_P(PendingModeRecoveryTest, SaveAfterRecoveryStoresTheChosenMode)
{
    const PendingModeCase c = GetParam();
    const QString pw = QStringLiteral("pw");
    const int id = add_note(1, {QStringLiteral("日记"), QStringLiteral("标签"), QStringLiteral("正文"), {}},
                            c.stored_mode, c.stored_mode == kPlainNote ? QString() : pw);
    show_section(QStringLiteral("甲类"));
    if (c.stored_mode != kPlainNote)
        dialogs.expect_password(QStringLiteral("密码"), pw);
    click_entry(0);
    if (c.stored_mode == kPlainNote)
        passwords(pw);
    else if (c.mode_after != kPlainNote)
        dialogs.expect_message(mode_changed_text(c.mode_after));
    form->findChild<QAction *>(QString::fromLatin1(c.command))->trigger();
    ASSERT_EQ(form->crypt.is_crypt, c.mode_after);
    append_to_body(QStringLiteral("甲"));
    autosave_now();
    const QString file = autosave_file(id);
    ASSERT_TRUE(is_encrypted_autosave(TempFolder::read(file)));

    dialogs.expect_password(QStringLiteral("密码"), pw);
    restart();
    ASSERT_EQ(form->note.noteId, id);
    EXPECT_EQ(form->crypt.is_crypt, c.mode_after);
    EXPECT_TRUE(form->crypt.change_pending(id));
    EXPECT_EQ(test::note_modes(*form), QList<int>({c.mode_after}));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("日记"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文甲"));

    form->save_open_note();
    EXPECT_EQ(mode_of(id), c.mode_after);
    EXPECT_FALSE(form->crypt.change_pending(id));
    StoredNote stored = read_stored_note(form->store, id);
    decrypt_stored_note(stored, c.mode_after, c.mode_after == kPlainNote ? QString() : pw, TextForm::Utf16Le);
    QTextDocument body;
    read_rtf(stored.rtf, body);
    EXPECT_EQ(body.toPlainText(), QStringLiteral("正文甲"));
    test::expect_mirror_identical(form->store);
}

INSTANTIATE_TEST_SUITE_P(Modes, PendingModeRecoveryTest,
                         ::testing::Values(PendingModeCase{kPlainNote, "N41", kEncryptedWithTitle},
                                           PendingModeCase{kEncryptedContentOnly, "N42", kPlainNote},
                                           PendingModeCase{kEncryptedWithTitle, "N67", kEncryptedContentOnly}));

TEST_F(NoteCryptWindowTest, EncryptedNoteWithoutItsPasswordIsNotAutosaved)
{
    const int id = add_note(1, {QStringLiteral("笔记"), {}, QStringLiteral("正文"), {}});
    show_section(QStringLiteral("甲类"));
    click_entry(0);
    form->crypt.is_crypt = kEncryptedContentOnly; // the password is not in memory
    append_to_body(QStringLiteral("秘密"));
    autosave_now();
    EXPECT_FALSE(QFile::exists(autosave_file(id)));
    EXPECT_FALSE(form->Timer1->isActive());
}

} // namespace
} // namespace yunshan
