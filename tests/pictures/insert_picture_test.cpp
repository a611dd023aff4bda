#include "app/ui/editor_pane.h"
#include "app/ui/tform2.h"
#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "support/main_window_fixture.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTextCursor>
#include <QTextEdit>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

class InsertPictureTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        build_window();
        show_window();
        form->note.is_rtf = BodyKind::Plain;
        form->set_panel(4, QStringLiteral("TXT"));
    }
};

TEST_F(InsertPictureTest, InsertReplacesTheSelectionAndMakesTheBodyRichText)
{
    const QString path = dir.file(QStringLiteral("截图.jpg"));
    TempFolder::write(path, encode_jpeg(test::sample_image(80, 60)));
    form->editor_pane()->editor()->setPlainText(QStringLiteral("甲乙丙"));
    QTextCursor c = form->editor_pane()->editor()->textCursor();
    c.setPosition(1);
    c.setPosition(2, QTextCursor::KeepAnchor);
    form->editor_pane()->editor()->setTextCursor(c);

    dialogs.expect_file(Kind::OpenFile, path);
    form->insert_picture_file();
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(),
              QStringLiteral("甲") + QChar(QChar::ObjectReplacementCharacter) + QStringLiteral("丙"));
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
}

TEST_F(InsertPictureTest, CancelledOrUnreadableFileChangesNothing)
{
    form->editor_pane()->editor()->setPlainText(QStringLiteral("正文"));
    dialogs.expect_file(Kind::OpenFile, QString());
    form->insert_picture_file();

    const QString missing = dir.file(QStringLiteral("没有.jpg"));
    dialogs.expect_file(Kind::OpenFile, missing);
    dialogs.expect_containing(Kind::Error, QStringLiteral("无法读取文件“") + missing + QStringLiteral("”："));
    form->insert_picture_file();
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文"));
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
}

} // namespace
} // namespace yunshan
