#pragma once
// Per-note encryption: the stored forms of a note in each encryption mode, unlocking an encrypted
// list entry, decrypting what was read, the three commands that change a note's mode, the
// pending changes they leave until the next save, and the encrypted autosave file.
//
// Stored forms (pw: the note's password; marker "@*crypt*"; separator ":ppp"):
//
//   field              mode 0        mode 1 (with title)                mode 2 (content only)
//   title.isDel        0             1                                  2
//   title.caption      title         encrypt_text(marker + title, pw)   encrypt_text(marker, pw)
//                                                                       + ":ppp" + title
//   notes.label        tag line      encrypt_text(tag line, pw)         tag line
//   notes.content      plain copy    hex ciphertext of FF FE + UTF-16LE plain copy (both modes)
//   rtffile.rtf        RTF bytes     raw ciphertext of the RTF bytes (both modes)
//
// The ciphertext depends on nothing but the password and the plaintext, so saving an unchanged
// note again writes identical values. Pictures are never encrypted.
#include "crypto/text_cipher.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <stdexcept>

namespace yunshan {

class Dialogs;
class NoteStore;
struct StoredNote;

// Encryption modes (`title.isDel`, `is_crypt`, the list marks).
enum NoteCryptMode : int {
    kPlainNote = 0,
    kEncryptedWithTitle = 1,
    kEncryptedContentOnly = 2,
};

QString crypt_marker();        // "@*crypt*"
QString crypt_separator();     // ":ppp"
QString wrong_password_text(); // "密码错误！"

// Stored data of an encrypted note that is not ciphertext (a caption that is not hexadecimal, a
// byte count that is not a multiple of 16). The message is meant for the user.
class NoteCryptError : public std::runtime_error {
  public:
    explicit NoteCryptError(const QString &message);
    QString text() const;
};

// ---- Stored forms ----

// The open note's fields as the user sees them.
struct PlainNoteFields {
    QString title;                 // the title field
    QString label;                 // the tag-line field
    QString plain_text;            // the plain-text copy exactly as a plain save stores it (lines by CR LF)
    std::optional<QByteArray> rtf; // the RTF body; nullopt for a plain body (no rtffile row)
};

// The same fields in their stored form.
struct EncodedNoteFields {
    int isDel = kPlainNote;
    QString caption;
    QString label;
    // Mode 0: `plain_text` unchanged (the save binds it as it binds every plain copy).
    // Modes 1 and 2: the hexadecimal ciphertext of FF FE + UTF-16LE of `plain_text`, ASCII only,
    // bound as text.
    QString content;
    // Mode 0: the RTF bytes unchanged; modes 1 and 2: their ciphertext. Bound as a blob.
    std::optional<QByteArray> rtf;

    friend bool operator==(const EncodedNoteFields &, const EncodedNoteFields &) = default;
};

// The stored forms of `fields` for encryption mode `mode` under `password`. Modes 1 and 2 with
// an empty password give mode 0: a note whose password is not known is stored in plain, and
// `isDel` of the result says which mode was written.
EncodedNoteFields encode_note_fields(const PlainNoteFields &fields, int mode, const QString &password);

// The stored caption alone (rename writes it without the other fields).
QString encode_caption(const QString &title, int mode, const QString &password);

// The reverse of encode_note_fields for a note whose password has been checked (see
// unlock_caption): the title from the caption, the tag line (mode 1), the plain-text copy and
// the RTF body, decrypted in text form `form`. The body keeps its leading blanks and final line
// break; the RTF loses only the zero fill of its last block. Mode 0 returns the fields as they
// are. Throws NoteCryptError for a field that is not ciphertext.
PlainNoteFields decode_note_fields(const EncodedNoteFields &stored, const QString &password, TextForm form);

// The readable title of a mode-2 caption: everything after the first ":ppp", uncut; the whole
// caption when it has no separator.
QString content_only_title(const QString &caption);

// ---- Unlocking an entry ----

// A caption whose marker was found under a password.
struct UnlockedCaption {
    TextForm form = TextForm::Utf16Le; // the form every other field of the note is read in
    QString title;                     // the real title
};

// Checks `password` against the stored caption of a note of mode `mode` (1 or 2): the marker is
// looked for in the UTF-16LE form, then in the legacy 8-bit form. nullopt: wrong password.
// Throws NoteCryptError for a caption that is not ciphertext.
std::optional<UnlockedCaption> unlock_caption(const QString &caption, int mode, const QString &password);

struct UnlockOutcome {
    enum class Status {
        Unlocked,  // password right: `password`, `form` and `title` are set
        Cancelled, // empty entry: nothing shown
        Refused,   // wrong password ("密码错误！") or unreadable caption (error box); shown already
    };
    Status status = Status::Cancelled;
    QString password;
    TextForm form = TextForm::Utf16Le;
    QString title;
    bool legacy_form() const { return form == TextForm::Legacy8Bit; }
};

// Unlocking the entry of note `note_id` whose list mark is `mode` (1 or 2): asks for the
// password ("请输入密码" / "密码"), reads the stored caption from the main database and checks it.
// Database errors are thrown as DbError.
UnlockOutcome unlock_entry(NoteStore &store, Dialogs &dialogs, int note_id, int mode);

// Decrypts what read_stored_note read of a note of mode `mode` in place: the RTF body, the tag
// line (mode 1) and the plain-text copy, which becomes the plain text (a QString, without the
// byte-order mark). Mode 0 leaves everything as read. Throws NoteCryptError.
void decrypt_stored_note(StoredNote &stored, int mode, const QString &password, TextForm form);

// ---- Commands and pending changes ----

// A mode change of the open note that is not saved yet, kept by the note's id (list positions
// change with every refill of the list).
struct PendingCryptChange {
    int note_id = -1;        // -1: none
    int stored_mode = 0;     // the mode the database holds
    QString stored_password; // the password that reads the stored form (empty for mode 0)

    bool active() const { return note_id >= 0; }
};

// The open note's encryption: its mode and password (which lives only while its note is open),
// and the changes of mode that wait for a save.
struct NoteCryptState {
    int is_crypt = kPlainNote;             // 0 plain, 1 encrypted with title, 2 body only
    QString key_crypt;                     // password of the open encrypted note
    PendingCryptChange pending_encryption; // an encryption (or a switch of mode) was applied
    PendingCryptChange pending_decryption; // the encryption was removed
    // The open note was read through the legacy 8-bit form: its next save writes the title row
    // and the body again in the UTF-16LE form.
    bool legacy_form = false;

    // A mode change of note `note_id` waits for a save.
    bool change_pending(int note_id) const;
};

// Message texts of the commands.
QString encrypt_needs_note_text();   // "请先新建或者打开一个笔记以加密。"
QString already_encrypted_text();    // "当前已经是加密笔记，…"
QString mode_changed_text(int mode); // "加密类型已经更改为…，密码不变。…"
QString passwords_differ_text();     // "两次密码输入的不一样，请重新输入。"
QString rename_while_pending_text(); // rename refused while a mode change is unsaved
QString rename_legacy_form_text();   // rename refused while the note is in the legacy form

// What a command changed; the window redraws the list and enables the save commands.
enum class CryptCommandResult { Unchanged, Changed };

// A list mark to put back: the entries of note `note_id` show mode `mode`.
struct ListMark {
    int note_id = -1;
    int mode = kPlainNote;

    friend bool operator==(const ListMark &, const ListMark &) = default;
};

// "加密当前笔记(含标题)" (mode 1) and "加密当前笔记(仅内容)" (mode 2) on note `note_id` (the
// open note, or the last one opened or created; -1 none), `entry_selected` when a note-list entry
// is selected. Asks for the password twice when the note is plain. On Changed: `is_crypt`,
// `key_crypt` and the pending encryption are set; nothing is written. The caller then marks the
// note's entries with `is_crypt` and the title and body as changed.
CryptCommandResult encrypt_open_note(NoteCryptState &crypt, Dialogs &dialogs, int note_id, bool entry_selected,
                                     int mode);

// "取消当前笔记加密…": the note becomes plain at the next save. No password is asked. On Changed
// the caller marks as after encrypt_open_note.
CryptCommandResult remove_note_encryption(NoteCryptState &crypt, int note_id);

// Leaving the open note `note_id` without saving (the answer No to an unsaved-changes question):
// the list marks of the pending notes go back to their stored modes (returned, in the order to
// apply them), and the open note, when it is one of them, gets back its stored mode and password,
// so that a later save of it cannot write one form under the other mode. Both pending changes are
// cleared.
QList<ListMark> leave_without_saving(NoteCryptState &crypt, int note_id);

// After a save: nothing is pending and the legacy form is gone. The caller marks the saved
// note's entries with the mode it was saved in.
void note_saved(NoteCryptState &crypt);

// Opening another note: the password of the note that is left is forgotten, the pending
// changes and the legacy form go.
void forget_open_note(NoteCryptState &crypt);

// Overwrites the characters of `password` (when this copy is the only one) and empties it.
void wipe_password(QString &password);

// ---- Writing a note in its stored form ----

// Writes all stored fields of note `note_id` on the main and the backup database: the title row
// ("update title set isDel=…, caption='…' where noteId=…"), the notes row (tag line, update time
// `put`, plain-text copy) and, when `stored.rtf` is set, the rtffile row (backup first). The same
// time value goes to both databases. Throws DbError.
void write_encoded_note(NoteStore &store, int note_id, const EncodedNoteFields &stored, const QString &put);

// ---- Autosave file of an encrypted note ----

// The password that protects the open note's autosave file: the note's password while it is
// encrypted; while a removal of its encryption is pending, the password of its stored form (the
// database still holds it encrypted). Empty: the file is plain RTF.
QString autosave_password(const NoteCryptState &crypt, int note_id);

// The autosave file's bytes for `rtf`: plain RTF when `password` is empty, otherwise an
// encrypted file that names its format, holds `mode`, a check block for the password and the
// ciphertext of the RTF.
QByteArray autosave_file_bytes(const QByteArray &rtf, int mode, const QString &password);

bool is_encrypted_autosave(const QByteArray &file);

struct DecryptedAutosave {
    QByteArray rtf;
    int mode = kPlainNote; // the mode the note had when the file was written
};
// nullopt: wrong password or a damaged file.
std::optional<DecryptedAutosave> decrypt_autosave(const QByteArray &file, const QString &password);

struct AutosaveRecovery {
    enum class Status {
        Plain,        // the file is plain RTF: `rtf`
        Unlocked,     // `rtf`, `password` and `mode` of the encrypted file
        Cancelled,    // empty password entry: keep the file for the next start
        WrongPassword // "密码错误！" shown: keep the file for the next start
    };
    Status status = Status::Plain;
    QByteArray rtf;
    QString password;
    int mode = kPlainNote;
};
// Recovery of an autosave file's bytes: an encrypted file asks for the note's password
// (autosave_recovery_title() / "密码").
AutosaveRecovery recover_autosave(const QByteArray &file, Dialogs &dialogs);
QString autosave_recovery_title();

// The mode of note `note_id` after its autosave file, written in mode `file_mode` under
// `password`, was recovered; the database holds the note in `stored_mode` (readable with the
// same password when encrypted). The note takes the file's mode and password. A mode that differs
// from the stored one is pending until the next save, as the command that made it left it; the
// caller marks the note's entries with `is_crypt`. True when the mode differs from the stored one.
bool restore_autosave_mode(NoteCryptState &crypt, int note_id, int stored_mode, int file_mode, const QString &password);

} // namespace yunshan
