#pragma once
// The key/value rows of `set_table` that travel with the notes: every statement that reads or
// writes one of them lives here, so no other code spells a key.
#include <QString>

namespace yunshan {

class NoteStore;

namespace set_table {

// Key names.
QString key_start_download();  // "启动从网盘同步": download the database from WebDAV at start-up
QString key_exit_upload();     // "退出保存到网盘": upload the database to WebDAV at exit
QString key_dav_url();         // "webDAV网址"
QString key_dav_username();    // "webDAV用户名"
QString key_dav_password();    // "webDAV密码"
QString key_zip_password();    // "zip密码"

// Any key; a missing row reads as empty text (main database).
QString read(NoteStore &store, const QString &key);
// The six WebDAV keys: delete, then insert the value (quotes doubled), on both databases.
void replace(NoteStore &store, const QString &key, const QString &value);

// Login password digest: no row means no login password.
QString read_password(NoteStore &store);
void insert_password(NoteStore &store, const QString &digest);
void update_password(NoteStore &store, const QString &digest);
void remove_password(NoteStore &store);

// Autosave bookkeeping: "000" = nothing pending, else the id of the note whose autosave file
// may hold unsaved text.
QString read_tmp_file1(NoteStore &store);
void create_tmp_file1(NoteStore &store);   // the row with "000"; only when the read gave empty text
void set_tmp_file1(NoteStore &store, int note_id);
void reset_tmp_file1(NoteStore &store);

// Exit stamp: local time in seconds since 1970 read as UTC; empty when never written.
QString read_last_time(NoteStore &store);
void write_last_time(NoteStore &store, qint64 stamp);

} // namespace set_table
} // namespace yunshan
