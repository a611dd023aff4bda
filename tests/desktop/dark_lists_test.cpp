// Under a dark desktop theme the four lists stay readable: the selected entry keeps its fixed
// light background with black text, the other entries are drawn in the palette's colours.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/tform2.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "support/dark_palette.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QPalette>
#include <QStackedWidget>
#include <QTest>

#include <memory>

namespace yunshan {
namespace {

using test::dark_palette;
using test::ScriptedDialogs;
using test::TempFolder;

// Darkest and lightest grey among the pixels of `r` in `img`.
std::pair<int, int> grey_range(const QImage &img, const QRect &r)
{
    int dark = 255, light = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const int g = qGray(img.pixel(x, y));
            dark = qMin(dark, g);
            light = qMax(light, g);
        }
    return {dark, light};
}

// The first entry of `l` is selected, the second not.
void check(QAbstractItemView *l)
{
    const QPalette dark = dark_palette();
    const std::string name = l->objectName().toStdString();
    const QImage img = l->viewport()->grab().toImage();
    const QRect selected = l->visualRect(l->model()->index(0, 0)).intersected(img.rect());
    const QRect other = l->visualRect(l->model()->index(1, 0)).intersected(img.rect());
    ASSERT_FALSE(selected.isEmpty() || other.isEmpty()) << name;
    EXPECT_EQ(QColor(img.pixel(selected.right() - 1, selected.top() + 1)), QColor(228, 217, 233)) << name;
    EXPECT_EQ(QColor(img.pixel(other.right() - 1, other.top() + 1)), dark.color(QPalette::Base)) << name;
    // Black text on the light row; light text on the dark rows.
    EXPECT_LT(grey_range(img, selected).first, 40) << name;
    EXPECT_GT(grey_range(img, other).second, 200) << name;
}

class DarkListsTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        old_palette = QApplication::palette();
        QApplication::setPalette(dark_palette());
        settings->set_bei_db(QString()); // the main database alone
        start();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        QApplication::setPalette(old_palette);
    }

    QPalette old_palette;
};

TEST_F(DarkListsTest, SelectedEntryIsBlackOnItsLightRowOthersFollowThePalette)
{
    QStringList checked;
    // Entries without pictures or red search hits: only the two kinds of rows.
    form->resize(1117, 760);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    // The headings list sits on the editor's second page.
    for (QWidget *page : {form->note_list_pane()->tabs()->currentWidget(), form->note_list_pane()->headings_page()}) {
        form->note_list_pane()->tabs()->setCurrentWidget(page);
        QApplication::processEvents();
        const QStringList texts{QStringLiteral("工作笔记"), QStringLiteral("生活日记")};
        for (QListWidget *l : {form->catalogue_pane()->major_list(), form->catalogue_pane()->minor_list(),
                               form->editor_pane()->headings_list()}) {
            if (!l->isVisible())
                continue;
            l->clear();
            l->addItems(texts);
            l->setCurrentRow(0);
            checked << l->objectName();
        }
        if (test::note_list(*form)->isVisible()) {
            test::put_note_entries(*form, texts, {1, 2});
            form->note_list_pane()->set_current_row(0);
            checked << test::note_list(*form)->objectName();
        }
        if (qEnvironmentVariableIsSet("YUNSHAN_SCREENSHOT"))
            form->grab().save(qEnvironmentVariable("YUNSHAN_SCREENSHOT") + page->objectName() + QStringLiteral(".png"));
        for (QAbstractItemView *l : std::initializer_list<QAbstractItemView *>{
                 form->catalogue_pane()->major_list(), form->catalogue_pane()->minor_list(), test::note_list(*form),
                 form->editor_pane()->headings_list()}) {
            if (l->isVisible())
                check(l);
        }
    }
    checked.removeDuplicates();
    EXPECT_EQ(checked.size(), 4) << checked.join(QLatin1Char(' ')).toStdString();
}

} // namespace
} // namespace yunshan
