#include "store/set_table.h"

#include "store/note_store.h"

namespace yunshan::set_table {

QString key_start_download()
{
    return QStringLiteral("启动从网盘同步");
}
QString key_exit_upload()
{
    return QStringLiteral("退出保存到网盘");
}
QString key_dav_url()
{
    return QStringLiteral("webDAV网址");
}
QString key_dav_username()
{
    return QStringLiteral("webDAV用户名");
}
QString key_dav_password()
{
    return QStringLiteral("webDAV密码");
}
QString key_zip_password()
{
    return QStringLiteral("zip密码");
}
QString key_last_time()
{
    return QStringLiteral("last_time");
}

namespace {

const QString kPassword = QStringLiteral("password");
const QString kTmpFile1 = QStringLiteral("tmp_file1");

// One row for the key: the old ones go, the value comes in.
void put(Writer &w, const QString &key, const QString &value)
{
    w.run(QStringLiteral("delete from main.set_table where key1=?1"), {key});
    w.run(QStringLiteral("insert into main.set_table(key1,value1) values(?1,?2)"), {key, value});
}

} // namespace

QString read(NoteStore &store, const QString &key)
{
    return store.get_first_string(QStringLiteral("select value1 from set_table where key1=?1"), {key});
}

void replace(NoteStore &store, const QString &key, const QString &value)
{
    store.write([&](Writer &w) { put(w, key, value); });
}

void replace_all(NoteStore &store, const QList<QPair<QString, QString>> &values)
{
    store.write([&](Writer &w) {
        for (const auto &[key, value] : values)
            put(w, key, value);
    });
}

QString read_password(NoteStore &store)
{
    return read(store, kPassword);
}

void insert_password(NoteStore &store, const QString &digest)
{
    store.write([&](Writer &w) {
        w.run(QStringLiteral("insert into main.set_table(key1,value1) values(?1,?2)"), {kPassword, digest});
    });
}

void update_password(NoteStore &store, const QString &digest)
{
    store.write([&](Writer &w) {
        w.run(QStringLiteral("update main.set_table set value1=?2 where key1=?1"), {kPassword, digest});
    });
}

void remove_password(NoteStore &store)
{
    store.write([&](Writer &w) { w.run(QStringLiteral("delete from main.set_table where key1=?1"), {kPassword}); });
}

QString read_tmp_file1(NoteStore &store)
{
    return read(store, kTmpFile1);
}

void create_tmp_file1(NoteStore &store)
{
    store.write(
        [&](Writer &w) {
            w.run(QStringLiteral("insert into main.set_table(key1,value1) values(?1,'000')"), {kTmpFile1});
        },
        WriteKind::Bookkeeping);
}

void set_tmp_file1(NoteStore &store, int note_id)
{
    store.write(
        [&](Writer &w) {
            w.run(QStringLiteral("update main.set_table set value1=?2 where key1=?1"),
                  {kTmpFile1, QString::number(note_id)});
        },
        WriteKind::Bookkeeping);
}

void reset_tmp_file1(NoteStore &store)
{
    store.write(
        [&](Writer &w) { w.run(QStringLiteral("update main.set_table set value1='000' where key1=?1"), {kTmpFile1}); },
        WriteKind::Bookkeeping);
}

QString read_last_time(NoteStore &store)
{
    return read(store, key_last_time());
}

void write_last_time(NoteStore &store, qint64 stamp)
{
    const QString value = QString::number(stamp);
    store.write(
        [&](Writer &w) {
            if (w.run(QStringLiteral("update main.set_table set value1=?2 where key1=?1"), {key_last_time(), value}) ==
                0)
                w.run(QStringLiteral("insert into main.set_table(key1,value1) values(?1,?2)"),
                      {key_last_time(), value});
        },
        WriteKind::Bookkeeping);
}

} // namespace yunshan::set_table
