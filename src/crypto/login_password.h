#pragma once
// The optional login password: only an MD5 digest of it is kept, under the `set_table` key
// "password". It guards the start of the program and encrypts nothing.
#include <QString>

namespace yunshan {

class Dialogs;
class NoteStore;

// The stored form of a login password: MD5 of the UTF-8 bytes of the trimmed password, as 32
// lower-case hexadecimal digits.
QString login_password_digest(const QString &password);

// The check at start-up. With a stored digest, asks for the password (entry shown as "*") and
// compares digests as exact text; a wrong, empty or cancelled entry shows "密码错误".
// True when the program may go on: no password is set, or the entry matches.
bool login_check(NoteStore &store, Dialogs &dialogs);

// "保存密码" with the texts of the two password fields. With a stored digest the current password
// is asked for first; then an empty (after trimming) first field clears the password and
// anything else sets it. True when the password was written or cleared; false when nothing was
// written (no database, wrong current password, fields that differ).
bool save_login_password(NoteStore &store, Dialogs &dialogs, const QString &first, const QString &second);

} // namespace yunshan
