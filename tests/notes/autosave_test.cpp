// The autosave copy without the window: its cycle, its file's bytes, and the end of the cycle
// once the note is saved.
#include "editor/rtf/rtf.h"
#include "notes/autosave.h"
#include "platform/private_files.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "store/store_fixture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTextDocument>

namespace yunshan {
namespace {

TEST(Autosave, AutosaveIsDueAfterTheCycleOnlyWithAnOpenNote)
{
    AutosaveCycle cycle;
    for (int i = 1; i < 300; ++i)
        ASSERT_FALSE(autosave_tick(cycle, 5)) << i;
    EXPECT_TRUE(autosave_tick(cycle, 5));
    EXPECT_EQ(cycle.time_count, 0);
    // No note open: the count goes on; the first tick with a note saves.
    for (int i = 0; i < 400; ++i)
        ASSERT_FALSE(autosave_tick(cycle, -1));
    EXPECT_TRUE(autosave_tick(cycle, 0));
}

TEST(Autosave, AutosaveFileKeepsTitleAndTagLineBesideTheBody)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("正文 {x} \\"));
    const QString title = QStringLiteral("标题 {a}\\b'\"% \U0001F600");
    const QByteArray bytes = autosave_bytes(doc, title, QStringLiteral("标签"));
    const auto fields = autosave_fields(bytes);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->title, title);
    EXPECT_EQ(fields->label, QStringLiteral("标签"));
    QTextDocument back;
    const RtfReadResult r = read_rtf(bytes, back);
    EXPECT_TRUE(r.warnings.isEmpty()) << r.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(back.toPlainText(), doc.toPlainText());
    EXPECT_FALSE(autosave_fields(write_rtf(doc)));
}

class AutosaveCycleEnd : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        folder = dir.file(QStringLiteral("tmp_save"));
        ASSERT_TRUE(ensure_private_folder(folder));
        folder += QLatin1Char('/');
        store = std::make_unique<NoteStore>(lock);
        ASSERT_EQ(store->Connect_to_db(zhu, bei, dialogs), kMainAndBackup);
        set_table::create_tmp_file1(*store);
    }
    void TearDown() override
    {
        dialogs.verify_done();
        store.reset();
        StoreTest::TearDown();
    }

    QString folder;
    std::unique_ptr<NoteStore> store;
};

// Saving note 5 ends its cycle; tmp_file1 is kept only while it names another note whose file
// still waits for recovery.
TEST_F(AutosaveCycleEnd, RemovesTheNotesFileAndResetsTheKeyUnlessAnotherFileWaits)
{
    struct Case {
        int pending;       // the note tmp_file1 names, 0 for "000"
        bool pending_file; // that note's autosave file exists
        const char *key_after;
    };
    const Case cases[] = {
        {5, true, "000"},
        {7, true, "7"},
        {7, false, "000"},
        {0, false, "000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pending);
        ASSERT_TRUE(write_autosave_file(*store, folder, 5, QByteArray("{\\rtf1 a}")));
        QFile::remove(autosave_path(folder, 7));
        if (c.pending_file && c.pending != 5) {
            ASSERT_TRUE(write_autosave_file(*store, folder, c.pending, QByteArray("{\\rtf1 b}")));
        }
        if (c.pending == 0)
            set_table::reset_tmp_file1(*store);
        else
            set_table::set_tmp_file1(*store, c.pending);

        end_autosave_cycle(*store, folder, 5);
        EXPECT_FALSE(QFile::exists(autosave_path(folder, 5)));
        EXPECT_EQ(set_table::read_tmp_file1(*store), QString::fromLatin1(c.key_after));
    }
}

} // namespace
} // namespace yunshan
