#include "backup_test_util.h"
#include "support/db_check.h"

#include <QRandomGenerator>

namespace yunshan::test {

void BackupTest::SetUp()
{
    program = dir.mkdir(QStringLiteral("program"));
    zhu = dir.mkdir(QStringLiteral("主目录"));
    bei = dir.mkdir(QStringLiteral("备份"));
    set_program_folder_override(program);
    run.zhu_db = zhu;
    run.bei_db = bei;
    run.auto_backup = QStringLiteral("1");
    run.tian = QStringLiteral("10");
    store.set_changed(true);
    ASSERT_EQ(store.Connect_to_db(run.zhu_db, run.bei_db, dialogs), kMainAndBackup);
    write_row(QStringLiteral("note"), QStringLiteral("第一版"));
}

void BackupTest::TearDown()
{
    store.close_all();
    set_program_folder_override({});
}

BackupContext BackupTest::context()
{
    BackupContext c{store, run, session, dialogs, {}, today};
    c.panel.show = [this](const QString &line) { shown_lines.append(line); };
    c.panel.line = [this](const QString &line) { shown_lines.append(line); };
    c.panel.hide = [this] { ++hides; };
    c.panel.start = [](ProgressMode) {};
    c.panel.esc_down = [this] { return esc; };
    return c;
}

void BackupTest::use_share(const QString &url, const QString &user, const QString &password)
{
    run.dav_url = url;
    run.dav_username = user;
    run.dav_password = password;
    run.webdav_tcbc = true;
}

void BackupTest::write_row(const QString &key, const QString &value)
{
    write_sql(store, QStringLiteral("insert into set_table(key1,value1) values(?,?)"), {key, value});
}

void BackupTest::grow_main(qsizetype bytes)
{
    QByteArray blob(bytes, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32 *>(blob.data()), bytes / 4);
    store.main().execute(QStringLiteral("insert into set_table(key1,value1) values('blob',?)"), {blob});
}

QString BackupTest::dated(int days_back) const
{
    return join_path(bei, backup_file_name(QStringLiteral("buckup_"), days_back, today));
}

} // namespace yunshan::test
