#pragma once
// The key/value rows of `set_table` that travel with the notes: every statement that reads or
// writes one of them lives here, so no other code spells a key. Values are bound, never spliced;
// every write goes through the store's write path, on both databases in one transaction.
#include <QList>
#include <QPair>
#include <QString>

namespace yunshan {

class NoteStore;

namespace set_table {

// Key names.
QString key_start_download(); // "启动从网盘同步": download the database from WebDAV at start-up
QString key_exit_upload();    // "退出保存到网盘": upload the database to WebDAV at exit
QString key_dav_url();        // "webDAV网址"
QString key_dav_username();   // "webDAV用户名"
QString key_dav_password();   // "webDAV密码"
QString key_zip_password();   // "zip密码"
QString key_last_time();      // "last_time": the exit stamp

// Any key; a missing row reads as empty text (main database).
QString read(NoteStore &store, const QString &key);
// One row for the key with this value (the WebDAV keys), on both databases.
void replace(NoteStore &store, const QString &key, const QString &value);
// Several keys in one write: all of them change, or none.
void replace_all(NoteStore &store, const QList<QPair<QString, QString>> &values);

// Login password digest: no row means no login password.
QString read_password(NoteStore &store);
void insert_password(NoteStore &store, const QString &digest);
void update_password(NoteStore &store, const QString &digest);
void remove_password(NoteStore &store);

// Autosave bookkeeping: "000" = nothing pending, else the id of the note whose autosave file
// may hold unsaved text.
QString read_tmp_file1(NoteStore &store);
void create_tmp_file1(NoteStore &store); // the row with "000"; only when the read gave empty text
void set_tmp_file1(NoteStore &store, int note_id);
void reset_tmp_file1(NoteStore &store);

// Exit stamp: local time in seconds since 1970 read as UTC; empty when never written.
QString read_last_time(NoteStore &store);
void write_last_time(NoteStore &store, qint64 stamp);

} // namespace set_table
} // namespace yunshan
