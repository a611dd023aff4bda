// Renders the editor's tools offscreen, to look at them without a display:
//   QT_QPA_PLATFORM=offscreen screenshot_editor out.png [note.pdf]
// A note with headings, a link and a bold word is opened from a temporary database; the search
// text is marked, the headings tab and the find dialog are shown and the move panel opened;
// with a second argument the note is also printed to that PDF file.
#include "app/ui/application_setup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/find_dialog.h"
#include "app/ui/tform2.h"
#include "editor/rtf/rtf.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "support/db_check.h"
#include "support/note_list_entries.h"
#include "support/printed_dialogs.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    yunshan::setup_application(app);
    const QStringList args = QCoreApplication::arguments();
    const QString out = args.value(1, QStringLiteral("editor.png"));
    const QString pdf = args.value(2);

    QTemporaryDir temp;
    yunshan::set_program_folder_override(temp.filePath(QStringLiteral("program")));
    yunshan::set_autosave_folder_override(temp.filePath(QStringLiteral("tmp")));
    yunshan::test::PrintedDialogs dialogs;
    yunshan::TForm2 form(dialogs);
    yunshan::SettingsStore settings(temp.filePath(QStringLiteral("YunShanNote.ini")));
    settings.set_zhu_db(temp.path());
    form.FormCreate(settings);

    QTextDocument doc;
    doc.setPlainText(QStringLiteral("# 第一章 项目计划\n本章说明计划的目标。计划分三步。\n"
                                    "参考 https://example.org/plan 和 file:///etc/passwd\n"
                                    "## 第二章 预算\n预算表见附件，计划外支出另列。\n"
                                    "  # 第三章 总结  \n总结：按计划完成。"));
    QTextCursor bold(&doc);
    bold.setPosition(doc.toPlainText().indexOf(QStringLiteral("预算表")));
    bold.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 3);
    QTextCharFormat b;
    b.setFontWeight(QFont::Bold);
    bold.mergeCharFormat(b);
    yunshan::test::write_sql(form.store,
                             QStringLiteral("insert into Section(px,classId,caption) values(100,1,'工作计划')"));
    yunshan::test::write_sql(form.store,
                             QStringLiteral("insert into Section(px,classId,caption) values(102,1,'读书笔记')"));
    yunshan::test::write_sql(form.store, QStringLiteral("insert into notes(label,content) values('计划','')"));
    yunshan::test::write_sql(
        form.store,
        QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(1,1,1,1,'项目计划笔记')"));
    yunshan::test::write_sql(form.store, QStringLiteral("insert into rtffile(noteId,rtf) values(1,?)"),
                             {yunshan::write_rtf(doc)});
    form.selection.class_index = -1;
    form.catalogue_pane()->major_list()->setCurrentRow(0);
    form.open_major_category();
    form.selection.section_index = -1;
    form.catalogue_pane()->minor_list()->setCurrentRow(0);
    form.open_minor_category();
    yunshan::test::choose_note(form, 0);

    form.search_box()->setText(QStringLiteral("计划"));
    form.toggle_highlight();
    form.note_list_pane()->tabs()->setCurrentIndex(1);
    form.show();
    form.start_moving_note();
    form.find_in_note();
    form.FindDialog1->FindText->setText(QStringLiteral("预算"));

    if (!pdf.isEmpty()) {
        form.print_dialog = [&pdf](QPrinter &p) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdf);
            return true;
        };
        form.print_open_note();
    }
    QTimer::singleShot(300, [&] {
        // The window with the find dialog drawn where it stands.
        QPixmap shot = form.grab();
        QPainter p(&shot);
        p.drawPixmap(form.mapFromGlobal(form.FindDialog1->pos()), form.FindDialog1->grab());
        p.end();
        if (!shot.save(out))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        QApplication::quit();
    });
    return QApplication::exec();
}
