// The rules of saving without the window: stored forms, save-as names and files.
#include "editor/note_save.h"
#include "editor/rtf/rtf.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTextDocument>

namespace yunshan {
namespace {

using test::TempFolder;

TEST(NoteSaveRules, PlainNoteIsStoredAsTypedWithWideTextCopy)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("第一行\n第二行"));
    const NoteFields plain = plain_note_fields(QStringLiteral("标'题\"%"), QStringLiteral("标签"), doc, false);
    const NoteFields stored = stored_note_fields(plain, 0, QString());
    EXPECT_EQ(stored.caption, QStringLiteral("标'题\"%"));
    EXPECT_EQ(stored.label, QStringLiteral("标签"));
    EXPECT_TRUE(stored.rtf.isEmpty());
    EXPECT_EQ(content_value(stored, 0).toString(), QChar(0xFEFF) + QStringLiteral("第一行\r\n第二行"));
    EXPECT_FALSE(plain_note_fields({}, {}, doc, true).rtf.isEmpty());
}

TEST(NoteSaveRules, SaveAsNameDropsCharactersFilesCannotHold)
{
    EXPECT_EQ(save_as_file_name(QStringLiteral("会议: 下周?<a>|b*\"c\"/d\\e\tf")),
              QStringLiteral("会议 下周abcdef.rtf"));
    EXPECT_EQ(save_as_file_name(QString()), QStringLiteral(".rtf"));
    EXPECT_EQ(save_as_filter(), QStringLiteral("rtf格式 (*.rtf);;纯文本 (*.txt)"));
}

TEST(NoteSaveRules, SaveAsWritesRtfOrPlainTextByTheChosenExtension)
{
    TempFolder dir;
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("正文\n第二行"));
    ASSERT_EQ(write_note_file(dir.file(QStringLiteral("a.rtf")), doc), QString());
    EXPECT_TRUE(TempFolder::read(dir.file(QStringLiteral("a.rtf"))).startsWith("{\\rtf1"));
    ASSERT_EQ(write_note_file(dir.file(QStringLiteral("b")), doc), QString()); // default extension
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("b.rtf"))));
    ASSERT_EQ(write_note_file(dir.file(QStringLiteral("c.TXT")), doc), QString());
    EXPECT_EQ(TempFolder::read(dir.file(QStringLiteral("c.TXT"))), plain_text_copy(doc));
    EXPECT_NE(write_note_file(dir.file(QStringLiteral("missing/d.rtf")), doc), QString());
}

} // namespace
} // namespace yunshan
