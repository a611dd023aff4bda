#include "support/main_window_fixture.h"

#include "app/ui/catalogue_pane.h"
#include "store/note_store.h"
#include "support/db_check.h"

#include <QTest>

namespace yunshan::test {

void MainWindowFixture::TearDown()
{
    dialogs.verify_done();
    form.reset();
}

void MainWindowFixture::build_window()
{
    form.reset();
    form = std::make_unique<TForm2>(dialogs);
}

void MainWindowFixture::start(bool destroy_first)
{
    if (form && destroy_first)
        form->FormDestroy();
    build_window();
    form->FormCreate(*settings);
}

void MainWindowFixture::start_connected()
{
    start();
    ASSERT_TRUE(form->store.main_connected());
    ASSERT_TRUE(form->store.backup_connected());
}

void MainWindowFixture::show_window()
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

void MainWindowFixture::exec(const QString &sql, const SqlParams &params)
{
    write_sql(form->store, sql, params);
}

void MainWindowFixture::write_without_sync()
{
    form->store.main().query(QStringLiteral("PRAGMA synchronous=OFF"));
    form->store.main().query(QStringLiteral("PRAGMA bei.synchronous=OFF"));
}

QStringList MainWindowFixture::texts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void MainWindowFixture::click_entry(int row)
{
    QListView *l = note_list(*form);
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualRect(l->model()->index(row, 0)).center());
}

void MainWindowFixture::show_section(const QString &caption)
{
    QListWidget *minor = form->catalogue_pane()->minor_list();
    minor->clear();
    minor->addItems({QStringLiteral("甲类"), QStringLiteral("乙类")});
    minor->setCurrentRow(caption == QStringLiteral("甲类") ? 0 : 1);
    form->fill_section_notes(caption);
}

} // namespace yunshan::test
