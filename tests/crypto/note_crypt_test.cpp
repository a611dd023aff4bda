// Per-note encryption: the stored forms against a known-answer table computed with the openssl
// command, unlocking, the legacy 8-bit form, the commands and their pending changes, the
// encrypted autosave file.
#include "catalogue/category_commands.h"
#include "crypto/note_crypt.h"
#include "editor/note_loader.h"
#include "legacy_form.h"
#include "platform/code_page.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

#include <QBuffer>

namespace yunshan {
namespace {

using test::legacy_hex;

using test::ScriptedDialogs;

// One note in plain form and its stored fields under `mode` and `password`.
struct KnownNote {
    const char16_t *title;
    const char16_t *label;
    const char16_t *body;
    const char *rtf_hex; // nullptr: a plain body
    int mode;
    const char16_t *password;
    const char16_t *caption;
    const char16_t *stored_label;
    const char *content;
    const char *stored_rtf_hex;
};

// Computed by note_crypt_answers.py with the openssl command from the stored-format rules alone.
const KnownNote kKnownNotes[] = {
    {u"\u4F1A\u8BAE\u8BB0\u5F55", u"\u5DE5\u4F5C,\u79C1\u4EBA", u"\u7B2C\u4E00\u884C\r\n\u7B2C\u4E8C\u884C",
     "7B5C727466315C616E73695C616E73696370673933365C64656666307B5C666F6E7474626C7B5C66305C666E696C5C6663686172736574313"
     "334205C2763625C2763655C2763635C2765353B7D7D0D0A5C706172645C66305C667332325C6C616E6732303532205C2764355C2766645C27"
     "63655C2763345C7061720D0A7D0D0A",
     1, u"secret", u"1594CF7FEA13C7C145BA0713E99947B5DE3F67E5566E2BBC6EE285DB856864A4",
     u"67B293302F6E0584D9CC9A8116BDD779", "69FE33CBC2003B1898257175E5519AA565AEC17534AA63C3DF07BD57EBABB8B5",
     "048AF0B19724DCF3E851058807723C7525A9FB866101F75E30D4401CE58DA409DB78ECE04FC30AF6B5011C5EA31552003AB14474B91654D64"
     "FF3A7E99856022CF5B4570D8B38F7D208BC05447DE6EBC3115A6FC424778604C2579FDBFC607F9EC4DBA2BDEAFA8668210699F02673F70D99"
     "5167BF4CA121172D45C35C6090ADAF"},
    {u"\u4F1A\u8BAE\u8BB0\u5F55", u"\u5DE5\u4F5C,\u79C1\u4EBA", u"\u7B2C\u4E00\u884C\r\n\u7B2C\u4E8C\u884C",
     "7B5C727466315C616E73695C616E73696370673933365C64656666307B5C666F6E7474626C7B5C66305C666E696C5C6663686172736574313"
     "334205C2763625C2763655C2763635C2765353B7D7D0D0A5C706172645C66305C667332325C6C616E6732303532205C2764355C2766645C27"
     "63655C2763345C7061720D0A7D0D0A",
     2, u"secret", u"1594CF7FEA13C7C145BA0713E99947B5:ppp\u4F1A\u8BAE\u8BB0\u5F55", u"\u5DE5\u4F5C,\u79C1\u4EBA",
     "69FE33CBC2003B1898257175E5519AA565AEC17534AA63C3DF07BD57EBABB8B5",
     "048AF0B19724DCF3E851058807723C7525A9FB866101F75E30D4401CE58DA409DB78ECE04FC30AF6B5011C5EA31552003AB14474B91654D64"
     "FF3A7E99856022CF5B4570D8B38F7D208BC05447DE6EBC3115A6FC424778604C2579FDBFC607F9EC4DBA2BDEAFA8668210699F02673F70D99"
     "5167BF4CA121172D45C35C6090ADAF"},
    {u"\u6807\u9898:ppp\u542B\u5206\u9694", u"\u6807\u7B7E", u"  \u7F29\u8FDB\u7684\u6B63\u6587\r\n", nullptr, 2,
     u"\u5BC6\u7801123", u"D559643C569D91B88A3A751BC621547E:ppp\u6807\u9898:ppp\u542B\u5206\u9694", u"\u6807\u7B7E",
     "1C148027360028163AC0BBF19031C60DFFB2AF023CAC5B7CF31408755E328981", nullptr},
    {u"it's \"quoted\" 50%", u"", u"", "7B5C727466315C616E7369207B5C6220626F6C647D2031362062797465733F7D", 1,
     u"abcdefghijklmnopqrstu",
     u"D565ACDBF9C68894EA3B5C1AB704CBD6E174869FAD36FFEC5E34A195A501227B362405F03709F91324C9896AA08745DE27FF10E0FE0C9568"
     u"5FC75D1EE9BEF4F1",
     u"", "40A5C868ADB68D280B97C88DBB7BB81C", "131CCF4FCA35DC8867B94090128D367B8029C05E5D80DCCF10F16409198F595B"},
    {u"", u"a", u"x", nullptr, 2, u"abcde", u"61733B46DC2BDE383FCD72C722E0209A:ppp", u"a",
     "E982575831A4F3F13C4935A0957E667A", nullptr},
    {u"\u4E03\u4E2A\u5B57\u7684\u6807\u9898", u"\u6807\u7B7E\u884C", u"\u6B63\u6587", nullptr, 1, u"p",
     u"D9C459A8DB09AA8077E68929B13BCC6EEF4B0E6AD8E9D41F0C59C9D26D0A762A", u"3ACADEF73556B95E46E5A4D5F7B78346",
     "20B7A2A79FC1ACBEEBF563D8239D6599", nullptr},
};

QString str(const char16_t *s)
{
    return QString::fromUtf16(s);
}

std::optional<QByteArray> bytes_of(const char *hex)
{
    if (!hex)
        return std::nullopt;
    return QByteArray::fromHex(hex);
}

PlainNoteFields plain_of(const KnownNote &k)
{
    return PlainNoteFields{str(k.title), str(k.label), str(k.body), bytes_of(k.rtf_hex)};
}

EncodedNoteFields stored_of(const KnownNote &k)
{
    return EncodedNoteFields{k.mode, str(k.caption), str(k.stored_label), QString::fromLatin1(k.content),
                             bytes_of(k.stored_rtf_hex)};
}

TEST(NoteCrypt, StoredFormsMatchTheKnownAnswersByteForByte)
{
    for (const KnownNote &k : kKnownNotes) {
        SCOPED_TRACE(str(k.caption).toStdString());
        const EncodedNoteFields expected = stored_of(k);
        const EncodedNoteFields stored = encode_note_fields(plain_of(k), k.mode, str(k.password));
        EXPECT_EQ(stored.isDel, k.mode);
        EXPECT_EQ(stored.caption, expected.caption);
        EXPECT_EQ(stored.label, expected.label);
        EXPECT_EQ(stored.content, expected.content);
        EXPECT_EQ(stored.rtf, expected.rtf);
        EXPECT_EQ(encode_caption(str(k.title), k.mode, str(k.password)), expected.caption);
        if (k.mode == kEncryptedContentOnly) { // one cipher block, the separator, the title
            EXPECT_EQ(stored.caption.indexOf(QStringLiteral(":ppp")), 32);
        }

        // Reading back: the password is recognised and every field comes back whole, the body's
        // leading blanks and final line break included.
        const auto unlocked = unlock_caption(expected.caption, k.mode, str(k.password));
        ASSERT_TRUE(unlocked);
        EXPECT_EQ(unlocked->form, TextForm::Utf16Le);
        EXPECT_EQ(unlocked->title, str(k.title));
        const PlainNoteFields plain = decode_note_fields(expected, str(k.password), TextForm::Utf16Le);
        EXPECT_EQ(plain.title, str(k.title));
        EXPECT_EQ(plain.label, str(k.label));
        EXPECT_EQ(plain.plain_text, str(k.body));
        EXPECT_EQ(plain.rtf, bytes_of(k.rtf_hex));

        EXPECT_FALSE(unlock_caption(expected.caption, k.mode, QStringLiteral("wrong")));
    }
}

TEST(NoteCrypt, PlainModeAndAnEmptyPasswordStoreThePlainFields)
{
    const PlainNoteFields fields{QStringLiteral("标题"), QStringLiteral("标签"), QStringLiteral("正文\r\n"),
                                 QByteArray("{\\rtf1 x}")};
    for (const auto &[mode, password] :
         {std::pair{0, QStringLiteral("pw")}, std::pair{1, QString()}, std::pair{2, QString()}}) {
        const EncodedNoteFields stored = encode_note_fields(fields, mode, password);
        EXPECT_EQ(stored, (EncodedNoteFields{0, fields.title, fields.label, fields.plain_text, fields.rtf}));
    }
}

TEST(NoteCrypt, ContentOnlyTitlesKeepSeparatorsAndLength)
{
    const QString pw = QStringLiteral("pw");
    const QString long_title(600, QChar(u'长'));
    for (const QString &title : {QStringLiteral("a:pppb:ppp"), long_title, QString()}) {
        const QString caption = encode_caption(title, kEncryptedContentOnly, pw);
        EXPECT_EQ(content_only_title(caption), title);
        const auto unlocked = unlock_caption(caption, kEncryptedContentOnly, pw);
        ASSERT_TRUE(unlocked);
        EXPECT_EQ(unlocked->title, title); // the whole stored title, not the entry's 555 characters
    }
    // A with-title caption of a title containing the marker and the separator.
    const QString odd = QStringLiteral("@*crypt*:ppp");
    EXPECT_EQ(unlock_caption(encode_caption(odd, 1, pw), 1, pw)->title, odd);
}

TEST(NoteCrypt, LegacyFormIsRecognisedAndReadInThatForm)
{
    const QString pw = QStringLiteral("旧密码");
    const QString caption = legacy_hex(QStringLiteral("@*crypt*旧版的标题"), pw);
    const auto unlocked = unlock_caption(caption, kEncryptedWithTitle, pw);
    ASSERT_TRUE(unlocked);
    EXPECT_EQ(unlocked->form, TextForm::Legacy8Bit);
    EXPECT_EQ(unlocked->title, QStringLiteral("旧版的标题"));
    EXPECT_FALSE(unlock_caption(caption, kEncryptedWithTitle, QStringLiteral("别的密码")));

    StoredNote stored;
    stored.has_notes_row = true;
    stored.label = legacy_hex(QStringLiteral("旧标签"), pw);
    stored.content = legacy_hex(QStringLiteral("旧的正文"), pw);
    decrypt_stored_note(stored, kEncryptedWithTitle, pw, unlocked->form);
    EXPECT_EQ(stored.label, QStringLiteral("旧标签"));
    EXPECT_EQ(stored.content.toString(), QStringLiteral("旧的正文"));

    // Content only: the tag line is plain, the prefix before ":ppp" holds the marker.
    const QString caption2 = legacy_hex(QStringLiteral("@*crypt*"), pw) + QStringLiteral(":ppp可读标题");
    const auto unlocked2 = unlock_caption(caption2, kEncryptedContentOnly, pw);
    ASSERT_TRUE(unlocked2);
    EXPECT_EQ(unlocked2->form, TextForm::Legacy8Bit);
    EXPECT_EQ(unlocked2->title, QStringLiteral("可读标题"));
}

TEST(NoteCrypt, StoredTextThatIsNotCiphertextGivesAClearMessage)
{
    const QString caption_text = QStringLiteral("此笔记存储的标题不是有效的密文，无法解密。");
    const QString body_text = QStringLiteral("此笔记存储的内容不是有效的密文，无法解密。");
    const struct {
        QString caption;
        int mode;
    } captions[] = {
        {QStringLiteral("普通的标题"), 1},
        {QStringLiteral("XYZ:ppp标题"), 2},
        {QString(33, QChar(u'A')), 1}, // 17 bytes
    };
    for (const auto &c : captions) {
        try {
            unlock_caption(c.caption, c.mode, QStringLiteral("pw"));
            ADD_FAILURE() << "no error for " << c.caption.toStdString();
        } catch (const NoteCryptError &e) {
            EXPECT_EQ(e.text(), caption_text);
        }
    }
    StoredNote stored;
    stored.has_rtf = true;
    stored.rtf = QByteArray("{\\rtf1 plain body}"); // 18 bytes: not ciphertext
    try {
        decrypt_stored_note(stored, kEncryptedContentOnly, QStringLiteral("pw"), TextForm::Utf16Le);
        ADD_FAILURE() << "no error";
    } catch (const NoteCryptError &e) {
        EXPECT_EQ(e.text(), body_text);
    }
}

// ---- Commands ----

// The window's part of a command: the entries of the note the command acts on show its mode.
struct CommandFixture : ::testing::Test {
    int note_id = -1;
    QList<int> ids{7, 8, 9};
    QList<int> marks{0, 0, 1};
    NoteCryptState crypt;
    ScriptedDialogs dialogs;

    void SetUp() override { open(8, 0, {}); }
    void TearDown() override { dialogs.verify_done(); }
    void open(int id, int mode, const QString &password)
    {
        note_id = id;
        crypt.is_crypt = mode;
        crypt.key_crypt = password;
    }
    void mark(int id, int mode)
    {
        for (qsizetype i = 0; i < ids.size(); ++i)
            if (ids.at(i) == id)
                marks[i] = mode;
    }
    CryptCommandResult encrypt(int mode, bool selected = true)
    {
        const CryptCommandResult r = encrypt_open_note(crypt, dialogs, note_id, selected, mode);
        if (r == CryptCommandResult::Changed)
            mark(note_id, crypt.is_crypt);
        return r;
    }
    CryptCommandResult remove()
    {
        const CryptCommandResult r = remove_note_encryption(crypt, note_id);
        if (r == CryptCommandResult::Changed)
            mark(note_id, crypt.is_crypt);
        return r;
    }
    void passwords(const QString &first, const QString &second)
    {
        dialogs.expect_password(QStringLiteral("密码"), first);
        dialogs.expect_password(QStringLiteral("密码"), second);
    }
};

TEST_F(CommandFixture, EncryptingAPlainNoteAsksTwiceAndChangesNothingUntilBothAgree)
{
    const struct {
        QString first, second, message;
    } refused[] = {
        {QStringLiteral("abc"), QStringLiteral("abd"), QStringLiteral("两次密码输入的不一样，请重新输入。")},
        {QStringLiteral("abc"), QStringLiteral("ABC"), QStringLiteral("两次密码输入的不一样，请重新输入。")},
        {QStringLiteral("abc "), QStringLiteral("abc"), QStringLiteral("两次密码输入的不一样，请重新输入。")},
        {QString(), QString(), QString()}, // nothing shown
    };
    for (const auto &r : refused) {
        passwords(r.first, r.second);
        if (!r.message.isEmpty())
            dialogs.expect_message(r.message);
        EXPECT_EQ(encrypt(kEncryptedWithTitle), CryptCommandResult::Unchanged);
        EXPECT_EQ(crypt.is_crypt, 0);
        EXPECT_TRUE(crypt.key_crypt.isEmpty());
        EXPECT_FALSE(crypt.change_pending(8));
    }
    passwords(QStringLiteral(" 密 码 "), QStringLiteral(" 密 码 "));
    EXPECT_EQ(encrypt(kEncryptedContentOnly), CryptCommandResult::Changed);
    EXPECT_EQ(crypt.is_crypt, 2);
    EXPECT_EQ(crypt.key_crypt, QStringLiteral(" 密 码 ")); // as typed, untrimmed
    EXPECT_TRUE(crypt.change_pending(8));
    EXPECT_EQ(crypt.pending_encryption.stored_mode, 0);
}

TEST_F(CommandFixture, SameModeSwitchAndNoEntry)
{
    open(9, 1, QStringLiteral("pw"));
    dialogs.expect_message(QStringLiteral("当前已经是加密笔记，如果要更改密码，请先取消加密，再重新加密。"));
    EXPECT_EQ(encrypt(kEncryptedWithTitle), CryptCommandResult::Unchanged);

    dialogs.expect_message(
        QStringLiteral("加密类型已经更改为仅加密内容，密码不变。如果要更改密码，请先取消加密，再重新加密。"));
    EXPECT_EQ(encrypt(kEncryptedContentOnly), CryptCommandResult::Changed);
    EXPECT_EQ(crypt.key_crypt, QStringLiteral("pw"));
    EXPECT_EQ(crypt.is_crypt, 2);
    dialogs.expect_message(
        QStringLiteral("加密类型已经更改为全加密，密码不变。如果要更改密码，请先取消加密，再重新加密。"));
    EXPECT_EQ(encrypt(kEncryptedWithTitle), CryptCommandResult::Changed);
    EXPECT_EQ(crypt.pending_encryption.stored_mode, 1); // what the database still holds

    for (const auto &[id, selected] : {std::pair{9, false}, std::pair{-1, true}}) {
        note_id = id;
        dialogs.expect_message(QStringLiteral("请先新建或者打开一个笔记以加密。"));
        EXPECT_EQ(encrypt(kEncryptedContentOnly, selected), CryptCommandResult::Unchanged);
    }
}

TEST_F(CommandFixture, LeavingWithoutSavingRestoresMarksAndModeByNoteId)
{
    // Remove the encryption of note 9, then leave it answering No.
    open(9, 1, QStringLiteral("pw"));
    EXPECT_EQ(remove(), CryptCommandResult::Changed);
    EXPECT_EQ(crypt.is_crypt, 0);
    EXPECT_TRUE(crypt.key_crypt.isEmpty());
    EXPECT_EQ(autosave_password(crypt, 9), QStringLiteral("pw")); // still encrypted on disk
    EXPECT_TRUE(autosave_password(crypt, 8).isEmpty());
    const QList<ListMark> back = leave_without_saving(crypt, 9);
    EXPECT_EQ(back, QList<ListMark>({{9, 1}}));
    for (const ListMark &m : back)
        mark(m.note_id, m.mode);
    // The open note itself is back in its stored form, so a later save cannot write it plain
    // under mode 1.
    EXPECT_EQ(crypt.is_crypt, 1);
    EXPECT_EQ(crypt.key_crypt, QStringLiteral("pw"));
    EXPECT_FALSE(crypt.change_pending(9));

    // Encrypt plain note 7, remove and encrypt again, leave: back to plain without a password.
    open(7, 0, {});
    passwords(QStringLiteral("a"), QStringLiteral("a"));
    encrypt(kEncryptedWithTitle);
    remove();
    passwords(QStringLiteral("b"), QStringLiteral("b"));
    encrypt(kEncryptedContentOnly);
    EXPECT_EQ(marks, QList<int>({2, 0, 1}));
    for (const ListMark &m : leave_without_saving(crypt, 7))
        mark(m.note_id, m.mode);
    EXPECT_EQ(marks, QList<int>({0, 0, 1}));
    EXPECT_EQ(crypt.is_crypt, 0);
    EXPECT_TRUE(crypt.key_crypt.isEmpty());

    // Leaving another note than the pending one puts its marks back and leaves the open mode.
    passwords(QStringLiteral("c"), QStringLiteral("c"));
    encrypt(kEncryptedWithTitle);
    EXPECT_EQ(leave_without_saving(crypt, 8), QList<ListMark>({{7, 0}}));
    EXPECT_EQ(crypt.is_crypt, 1);
}

TEST_F(CommandFixture, SavingForgetsThePendingChange)
{
    passwords(QStringLiteral("a"), QStringLiteral("a"));
    encrypt(kEncryptedWithTitle);
    crypt.legacy_form = true;
    note_saved(crypt);
    EXPECT_FALSE(crypt.change_pending(8));
    EXPECT_FALSE(crypt.legacy_form);
    // Nothing pending: leaving changes nothing.
    EXPECT_TRUE(leave_without_saving(crypt, 8).isEmpty());
    EXPECT_EQ(crypt.is_crypt, 1);
    EXPECT_EQ(crypt.key_crypt, QStringLiteral("a"));

    forget_open_note(crypt);
    EXPECT_TRUE(crypt.key_crypt.isEmpty());
}

// ---- Against the databases ----

class NoteCryptStoreTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = std::make_unique<NoteStore>(lock);
        ASSERT_EQ(store->Connect_to_db(zhu, bei, dialogs), kMainAndBackup);
        test::write_sql(
            *store,
            QStringLiteral(
                "insert into notes(isDel,cuanjian,put) values(0,'2023-11-02 08:09:10','2023-11-02 08:09:10')"),
            {});
        id = static_cast<int>(store->main().last_insert_rowid());
        test::write_sql(*store,
                        QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,?,'x')"),
                        {id});
    }
    void TearDown() override
    {
        dialogs.verify_done();
        store.reset();
        StoreTest::TearDown();
    }
    std::unique_ptr<NoteStore> store;
    int id = 0;
};

TEST_F(NoteCryptStoreTest, WrittenFieldsAreTheKnownAnswersAndOpenWithThePassword)
{
    const KnownNote &k = kKnownNotes[0];
    const EncodedNoteFields stored = encode_note_fields(plain_of(k), k.mode, str(k.password));
    write_encoded_note(*store, id, stored, QStringLiteral("2024-01-02 03:04:05"));
    write_encoded_note(*store, id, encode_note_fields(plain_of(k), k.mode, str(k.password)),
                       QStringLiteral("2024-01-02 03:04:05"));
    test::expect_mirror_identical(*store);
    const QString n = QString::number(id);
    EXPECT_EQ(store->get_first_string(QStringLiteral("select caption from title where noteId=") + n), str(k.caption));
    EXPECT_EQ(store->get_first_integer(QStringLiteral("select isDel from title where noteId=") + n), 1);
    EXPECT_EQ(store->get_first_string(QStringLiteral("select label from notes where id=") + n), str(k.stored_label));
    EXPECT_EQ(store->get_first_string(QStringLiteral("select content from notes where id=") + n),
              QString::fromLatin1(k.content));
    EXPECT_EQ(store->main().query_first(QStringLiteral("select rtf from rtffile where noteId=") + n)->toByteArray(),
              *bytes_of(k.stored_rtf_hex));

    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("wrong"));
    dialogs.expect_message(QStringLiteral("密码错误！"));
    EXPECT_EQ(unlock_entry(*store, dialogs, id, 1).status, UnlockOutcome::Status::Refused);
    dialogs.expect_password(QStringLiteral("密码"), QString());
    EXPECT_EQ(unlock_entry(*store, dialogs, id, 1).status, UnlockOutcome::Status::Cancelled);
    dialogs.expect_password(QStringLiteral("密码"), str(k.password));
    const UnlockOutcome unlocked = unlock_entry(*store, dialogs, id, 1);
    ASSERT_EQ(unlocked.status, UnlockOutcome::Status::Unlocked);
    EXPECT_EQ(unlocked.title, str(k.title));
    EXPECT_FALSE(unlocked.legacy_form());

    StoredNote read = read_stored_note(*store, id);
    decrypt_stored_note(read, 1, unlocked.password, unlocked.form);
    EXPECT_EQ(read.label, str(k.label));
    EXPECT_EQ(read.rtf, *bytes_of(k.rtf_hex));
}

TEST_F(NoteCryptStoreTest, UnreadableCaptionIsReportedInPlainWords)
{
    test::write_sql(*store,
                    QStringLiteral("update title set isDel=1, caption='不是密文' where noteId=") + QString::number(id));
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("pw"));
    dialogs.expect_error(QStringLiteral("此笔记存储的标题不是有效的密文，无法解密。"));
    EXPECT_EQ(unlock_entry(*store, dialogs, id, 1).status, UnlockOutcome::Status::Refused);
}

TEST_F(NoteCryptStoreTest, RenameIsRefusedWhileAModeChangeWaitsOrTheFormIsLegacy)
{
    RenameTarget t;
    t.target = kTargetNote;
    t.note_id = id;
    t.crypt_mode = 1;
    t.password = QStringLiteral("pw");
    t.crypt_change_pending = true;
    dialogs.expect_message(QStringLiteral("此笔记的加密设置已更改但还没有保存，请先保存笔记，再重命名。"));
    EXPECT_FALSE(rename_category_or_note(*store, dialogs, {}, t));
    t.crypt_change_pending = false;
    t.legacy_form = true;
    dialogs.expect_message(QStringLiteral("此笔记是旧版本加密的，请先修改并保存一次笔记，再重命名。"));
    EXPECT_FALSE(rename_category_or_note(*store, dialogs, {}, t));
    EXPECT_EQ(store->get_first_string(QStringLiteral("select caption from title where noteId=") + QString::number(id)),
              QStringLiteral("x"));
    // Otherwise the new name is stored in the note's caption form.
    t.legacy_form = false;
    dialogs.expect_input(QStringLiteral("请输入"), QStringLiteral("新名字"));
    EXPECT_EQ(rename_category_or_note(*store, dialogs, {}, t), QStringLiteral("新名字"));
    const QString caption =
        store->get_first_string(QStringLiteral("select caption from title where noteId=") + QString::number(id));
    EXPECT_EQ(unlock_caption(caption, 1, QStringLiteral("pw"))->title, QStringLiteral("新名字"));
}

// ---- Autosave ----

TEST(NoteCryptAutosave, EncryptedFileHidesTheBodyAndNeedsThePassword)
{
    const QByteArray rtf = QByteArray("{\\rtf1\\ansi secret body text}\r\n");
    EXPECT_EQ(autosave_file_bytes(rtf, 1, QString()), rtf); // plain note: plain RTF
    const QByteArray file = autosave_file_bytes(rtf, 2, QStringLiteral("密码"));
    EXPECT_TRUE(is_encrypted_autosave(file));
    EXPECT_FALSE(is_encrypted_autosave(rtf));
    EXPECT_FALSE(file.contains("secret"));
    EXPECT_FALSE(decrypt_autosave(file, QStringLiteral("other")));
    EXPECT_FALSE(decrypt_autosave(file.left(file.size() - 3), QStringLiteral("密码"))); // damaged
    const auto plain = decrypt_autosave(file, QStringLiteral("密码"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->rtf, rtf);
    EXPECT_EQ(plain->mode, 2);

    ScriptedDialogs dialogs;
    EXPECT_EQ(recover_autosave(rtf, dialogs).status, AutosaveRecovery::Status::Plain);
    dialogs.expect_password(QStringLiteral("密码"), QString());
    EXPECT_EQ(recover_autosave(file, dialogs).status, AutosaveRecovery::Status::Cancelled);
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("错的"));
    dialogs.expect_message(QStringLiteral("密码错误！"));
    EXPECT_EQ(recover_autosave(file, dialogs).status, AutosaveRecovery::Status::WrongPassword);
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("密码"));
    const AutosaveRecovery r = recover_autosave(file, dialogs);
    EXPECT_EQ(r.status, AutosaveRecovery::Status::Unlocked);
    EXPECT_EQ(r.rtf, rtf);
    EXPECT_EQ(r.password, QStringLiteral("密码"));
    EXPECT_EQ(r.mode, 2);
    dialogs.verify_done();
}

TEST(NoteCryptAutosave, PasswordOfTheOpenNote)
{
    NoteCryptState crypt;
    EXPECT_TRUE(autosave_password(crypt, 3).isEmpty());
    crypt.is_crypt = 2;
    crypt.key_crypt = QStringLiteral("k");
    EXPECT_EQ(autosave_password(crypt, 3), QStringLiteral("k"));
}

} // namespace
} // namespace yunshan
