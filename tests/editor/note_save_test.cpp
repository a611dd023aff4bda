// The rules of saving without the window: stored forms, save-as names and files, the autosave
// cycle and its file.
#include "editor/note_save.h"
#include "editor/rtf/rtf.h"
#include "notes/autosave.h"
#include "notes/note_lifetime.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QFile>
#include <QLocale>
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

TEST(NoteSaveRules, AutosaveIsDueAfterTheCycleOnlyWithAnOpenNote)
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

TEST(NoteSaveRules, AutosaveFileKeepsTitleAndTagLineBesideTheBody)
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

TEST(NoteSaveRules, NewNoteCaptionCarriesTheShortDate)
{
    const QLocale locale(QLocale::Chinese, QLocale::China);
    const QDate d(2024, 3, 9);
    EXPECT_EQ(new_note_caption(d, locale), QStringLiteral("新的笔记") + locale.toString(d, QLocale::ShortFormat));
}

} // namespace
} // namespace yunshan
