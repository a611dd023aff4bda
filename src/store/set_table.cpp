#include "store/set_table.h"

#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan::set_table {

QString key_start_download() { return QStringLiteral("启动从网盘同步"); }
QString key_exit_upload() { return QStringLiteral("退出保存到网盘"); }
QString key_dav_url() { return QStringLiteral("webDAV网址"); }
QString key_dav_username() { return QStringLiteral("webDAV用户名"); }
QString key_dav_password() { return QStringLiteral("webDAV密码"); }
QString key_zip_password() { return QStringLiteral("zip密码"); }

QString read(NoteStore &store, const QString &key)
{
    return store.get_first_string(QStringLiteral("select value1 from set_table where key1='") + key +
                                  QStringLiteral("'"));
}

void replace(NoteStore &store, const QString &key, const QString &value)
{
    store.set_first_string(QStringLiteral("delete from set_table where key1='") + key + QStringLiteral("'"));
    store.set_first_string(QStringLiteral("insert into set_table(key1,value1)  values('") + key +
                           QStringLiteral("','") + double_quotes(value) + QStringLiteral("')"));
}

QString read_password(NoteStore &store) { return read(store, QStringLiteral("password")); }

void insert_password(NoteStore &store, const QString &digest)
{
    store.set_first_string(QStringLiteral("insert into set_table(key1,value1)  values('password','") +
                           double_quotes(digest) + QStringLiteral("')"));
}

void update_password(NoteStore &store, const QString &digest)
{
    store.set_first_string(QStringLiteral("update set_table set value1='") + double_quotes(digest) +
                           QStringLiteral("' where key1='password'"));
}

void remove_password(NoteStore &store)
{
    store.set_first_string(QStringLiteral("delete from set_table where key1='password'"));
}

QString read_tmp_file1(NoteStore &store) { return read(store, QStringLiteral("tmp_file1")); }

void create_tmp_file1(NoteStore &store)
{
    store.set_first_string(QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','000')"));
}

void set_tmp_file1(NoteStore &store, int note_id)
{
    store.set_first_string(QStringLiteral("update set_table set value1='") + QString::number(note_id) +
                           QStringLiteral("' where key1='tmp_file1'"));
}

void reset_tmp_file1(NoteStore &store)
{
    store.set_first_string(QStringLiteral("update set_table set value1='000' where key1='tmp_file1'"));
}

QString read_last_time(NoteStore &store) { return read(store, QStringLiteral("last_time")); }

void write_last_time(NoteStore &store, qint64 stamp)
{
    const QString value = QString::number(stamp);
    if (store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='last_time'")) != 0)
        store.set_first_string(QStringLiteral("update set_table set value1='") + value +
                               QStringLiteral("' where key1='last_time'"));
    else
        store.set_first_string(QStringLiteral("insert into set_table(key1,value1) values('last_time','") + value +
                               QStringLiteral("')"));
}

} // namespace yunshan::set_table
