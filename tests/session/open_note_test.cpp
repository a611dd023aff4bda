// Reading a note for opening: the password of an encrypted entry, the rows and their decryption,
// and that nothing is handed over when any of it fails.
#include "crypto/note_crypt.h"
#include "session/open_note.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

const QString kPassword = QStringLiteral("口令abc");
const QString kPasswordPrompt = QStringLiteral("密码"); // the box "请输入密码"

class OpenNoteTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = std::make_unique<NoteStore>(lock);
        ASSERT_EQ(store->Connect_to_db(zhu, bei, dialogs), kMainAndBackup);
    }
    void TearDown() override
    {
        dialogs.verify_done();
        store.reset();
        StoreTest::TearDown();
    }

    // A note stored in `mode` under kPassword, with an RTF body.
    int add_note(int mode)
    {
        test::write_sql(*store,
                        QStringLiteral("insert into notes(isDel,cuanjian,put) values(0,'2024-05-06 07:08:09',"
                                       "'2024-05-06 07:08:09')"),
                        {});
        const int id = static_cast<int>(store->main().last_insert_rowid());
        test::write_sql(*store,
                        QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,?,'x')"),
                        {id});
        const PlainNoteFields plain{QStringLiteral("年度预算"), QStringLiteral("财务"), QStringLiteral("正文"),
                                    QByteArray("{\\rtf1 \\u27491?\\u25991?}")};
        write_encoded_note(*store, id, encode_note_fields(plain, mode, kPassword),
                           QStringLiteral("2024-05-06 07:08:09"));
        return id;
    }

    std::unique_ptr<NoteStore> store;
};

TEST_F(OpenNoteTest, EveryModeOpensWithItsFieldsDecrypted)
{
    for (const int mode : {kPlainNote, kEncryptedWithTitle, kEncryptedContentOnly}) {
        const int id = add_note(mode);
        if (mode != kPlainNote)
            dialogs.expect_password(kPasswordPrompt, kPassword);
        const NoteToOpen n = read_note_to_open(*store, dialogs, id, mode);
        dialogs.verify_done();
        ASSERT_EQ(n.status, NoteToOpen::Status::Ready) << mode;
        EXPECT_EQ(n.note_id, id);
        EXPECT_EQ(n.mode, mode);
        EXPECT_EQ(n.title, mode == kPlainNote ? QString() : QStringLiteral("年度预算")) << mode;
        EXPECT_EQ(n.password, mode == kPlainNote ? QString() : kPassword) << mode;
        EXPECT_FALSE(n.legacy_form);
        EXPECT_TRUE(n.stored.has_rtf);
        EXPECT_TRUE(n.stored.rtf.startsWith("{\\rtf1 \\u27491?\\u25991?}")) << mode;
        EXPECT_EQ(n.stored.label, QStringLiteral("财务")) << mode;
        EXPECT_EQ(n.stored.put, QStringLiteral("2024-05-06 07:08:09"));
    }
}

TEST_F(OpenNoteTest, NothingIsHandedOverWhenThePasswordOrTheCiphertextFails)
{
    const int id = add_note(kEncryptedWithTitle);
    struct Case {
        const char *why;
        QString entry;
        NoteToOpen::Status status;
    };
    const Case cases[] = {
        {"cancelled", QString(), NoteToOpen::Status::Cancelled},
        {"wrong password", QStringLiteral("别的"), NoteToOpen::Status::Cancelled},
    };
    for (const Case &c : cases) {
        dialogs.expect_password(kPasswordPrompt, c.entry);
        if (!c.entry.isEmpty())
            dialogs.expect_message(QStringLiteral("密码错误！"));
        const NoteToOpen n = read_note_to_open(*store, dialogs, id, kEncryptedWithTitle);
        dialogs.verify_done();
        EXPECT_EQ(n.status, c.status) << c.why;
        EXPECT_TRUE(n.password.isEmpty()) << c.why;
        EXPECT_EQ(n.note_id, -1) << c.why;
    }

    // A body that is no ciphertext (not whole blocks): the error is shown, nothing handed over.
    test::write_sql(*store, QStringLiteral("update rtffile set rtf=x'0102030405' where noteId=?"), {id});
    dialogs.expect_password(kPasswordPrompt, kPassword)
        .expect_error(QStringLiteral("此笔记存储的内容不是有效的密文，无法解密。"));
    const NoteToOpen damaged = read_note_to_open(*store, dialogs, id, kEncryptedWithTitle);
    dialogs.verify_done();
    EXPECT_EQ(damaged.status, NoteToOpen::Status::Failed);
    EXPECT_TRUE(damaged.password.isEmpty());
}

} // namespace
} // namespace yunshan
