#include "crypto/note_crypt.h"

#include "editor/note_loader.h"
#include "platform/dialogs.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "store/sql_text.h"

#include <algorithm>

namespace yunshan {

namespace {

const QString kPasswordPrompt = QStringLiteral("密码");

bool encrypted_mode(int mode)
{
    return mode == kEncryptedWithTitle || mode == kEncryptedContentOnly;
}

// The plain-text copy as bytes: the byte-order mark FF FE, then the text in UTF-16LE.
QByteArray plain_copy_bytes(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.reserve(2 + text.size() * 2);
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

// Runs `fn`, turning the errors of stored text that is not ciphertext into NoteCryptError.
template <typename Fn> auto readable(const QString &what, Fn fn) -> decltype(fn())
{
    try {
        return fn();
    } catch (const IntegerConversionError &) {
    } catch (const EAESError &) {
    }
    throw NoteCryptError(what);
}

QString caption_error_text()
{
    return QStringLiteral("此笔记存储的标题不是有效的密文，无法解密。");
}

QString body_error_text()
{
    return QStringLiteral("此笔记存储的内容不是有效的密文，无法解密。");
}

// The zero fill of the last block is not part of an RTF body (which ends with "}" and a line end).
void without_zero_fill(QByteArray &rtf)
{
    qsizetype end = rtf.size();
    while (end > 0 && rtf.at(end - 1) == '\0')
        --end;
    rtf.truncate(end);
}

// What the database holds of note `id`: an earlier pending change knows it, otherwise the open
// note's state does (nothing is pending, so it agrees with the database).
PendingCryptChange stored_state(const NoteCryptState &crypt, int id)
{
    for (const PendingCryptChange *p : {&crypt.pending_encryption, &crypt.pending_decryption}) {
        if (p->note_id == id)
            return *p;
    }
    return PendingCryptChange{id, crypt.is_crypt, encrypted_mode(crypt.is_crypt) ? crypt.key_crypt : QString()};
}

void clear_pending(NoteCryptState &crypt)
{
    crypt.pending_encryption = PendingCryptChange{};
    crypt.pending_decryption = PendingCryptChange{};
}

const QByteArray kAutosaveMagic = QByteArrayLiteral("YSNOTE-ENCRYPTED-AUTOSAVE/1\n");

} // namespace

// ---------------------------------------------------------------------------------------------

QString crypt_marker()
{
    return QStringLiteral("@*crypt*");
}

QString crypt_separator()
{
    return QStringLiteral(":ppp");
}

QString wrong_password_text()
{
    return QStringLiteral("密码错误！");
}

NoteCryptError::NoteCryptError(const QString &message) : std::runtime_error(message.toStdString()) {}

QString NoteCryptError::text() const
{
    return QString::fromStdString(what());
}

// ---- Stored forms ----

QString encode_caption(const QString &title, int mode, const QString &password)
{
    if (password.isEmpty() || !encrypted_mode(mode))
        return title;
    if (mode == kEncryptedWithTitle)
        return encrypt_text(crypt_marker() + title, password);
    return encrypt_text(crypt_marker(), password) + crypt_separator() + title;
}

EncodedNoteFields encode_note_fields(const PlainNoteFields &fields, int mode, const QString &password)
{
    EncodedNoteFields stored;
    if (password.isEmpty() || !encrypted_mode(mode)) {
        stored.caption = fields.title;
        stored.label = fields.label;
        stored.content = fields.plain_text;
        stored.rtf = fields.rtf;
        return stored;
    }
    stored.isDel = mode;
    stored.caption = encode_caption(fields.title, mode, password);
    stored.label = mode == kEncryptedWithTitle ? encrypt_text(fields.label, password) : fields.label;
    stored.content = bytes_to_hex(encrypt_bytes(plain_copy_bytes(fields.plain_text), password));
    if (fields.rtf)
        stored.rtf = encrypt_bytes(*fields.rtf, password);
    return stored;
}

QString content_only_title(const QString &caption)
{
    const qsizetype at = caption.indexOf(crypt_separator());
    return at < 0 ? caption : caption.mid(at + crypt_separator().size());
}

PlainNoteFields decode_note_fields(const EncodedNoteFields &stored, const QString &password, TextForm form)
{
    PlainNoteFields fields;
    if (!encrypted_mode(stored.isDel)) {
        fields.title = stored.caption;
        fields.label = stored.label;
        fields.plain_text = stored.content;
        fields.rtf = stored.rtf;
        return fields;
    }
    if (stored.isDel == kEncryptedWithTitle) {
        const QString text =
            readable(caption_error_text(), [&] { return decrypt_text(stored.caption, password, form); });
        const qsizetype at = text.indexOf(crypt_marker());
        fields.title = at < 0 ? text : text.mid(at + crypt_marker().size());
        fields.label = readable(body_error_text(), [&] { return decrypt_text(stored.label, password, form); });
    } else {
        fields.title = content_only_title(stored.caption);
        fields.label = stored.label;
    }
    fields.plain_text = readable(body_error_text(),
                                 [&] { return decrypt_text(stored.content, password, form, TextTrim::ZeroFillOnly); });
    if (stored.rtf) {
        QByteArray rtf = readable(body_error_text(), [&] { return decrypt_bytes(*stored.rtf, password); });
        without_zero_fill(rtf);
        fields.rtf = rtf;
    }
    return fields;
}

// ---- Unlocking ----

std::optional<UnlockedCaption> unlock_caption(const QString &caption, int mode, const QString &password)
{
    QString cipher = caption;
    if (mode == kEncryptedContentOnly) {
        const qsizetype at = caption.indexOf(crypt_separator());
        if (at >= 0)
            cipher = caption.left(at);
    }
    for (const TextForm form : {TextForm::Utf16Le, TextForm::Legacy8Bit}) {
        const QString text = readable(caption_error_text(), [&] { return decrypt_text(cipher, password, form); });
        const qsizetype at = text.indexOf(crypt_marker());
        if (at < 0)
            continue;
        UnlockedCaption unlocked;
        unlocked.form = form;
        unlocked.title =
            mode == kEncryptedWithTitle ? text.mid(at + crypt_marker().size()) : content_only_title(caption);
        return unlocked;
    }
    return std::nullopt;
}

UnlockOutcome unlock_entry(NoteStore &store, Dialogs &dialogs, int note_id, int mode)
{
    UnlockOutcome outcome;
    QString candidate = dialogs.password(QStringLiteral("请输入密码"), kPasswordPrompt);
    if (candidate.isEmpty())
        return outcome;
    const QString caption = read_note_title(store, note_id).value_or(NoteTitleRow{}).caption;
    std::optional<UnlockedCaption> unlocked;
    try {
        unlocked = unlock_caption(caption, mode, candidate);
    } catch (const NoteCryptError &e) {
        wipe_password(candidate);
        dialogs.error(e.text());
        outcome.status = UnlockOutcome::Status::Refused;
        return outcome;
    }
    if (!unlocked) {
        wipe_password(candidate);
        dialogs.message(wrong_password_text());
        outcome.status = UnlockOutcome::Status::Refused;
        return outcome;
    }
    outcome.status = UnlockOutcome::Status::Unlocked;
    outcome.password = candidate;
    outcome.form = unlocked->form;
    outcome.title = unlocked->title;
    return outcome;
}

void decrypt_stored_note(StoredNote &stored, int mode, const QString &password, TextForm form)
{
    if (!encrypted_mode(mode))
        return;
    if (mode == kEncryptedWithTitle)
        stored.label = readable(body_error_text(), [&] { return decrypt_text(stored.label, password, form); });
    if (stored.has_rtf) {
        stored.rtf = readable(body_error_text(), [&] { return decrypt_bytes(stored.rtf, password); });
        without_zero_fill(stored.rtf);
    } else if (stored.content.isValid()) {
        const QString hex = stored.content.typeId() == QMetaType::QByteArray
                                ? QString::fromLatin1(stored.content.toByteArray())
                                : stored.content.toString();
        stored.content =
            readable(body_error_text(), [&] { return decrypt_text(hex, password, form, TextTrim::ZeroFillOnly); });
    }
}

// ---- Commands ----

bool NoteCryptState::change_pending(int note_id) const
{
    return note_id >= 0 && (pending_encryption.note_id == note_id || pending_decryption.note_id == note_id);
}

QString encrypt_needs_note_text()
{
    return QStringLiteral("请先新建或者打开一个笔记以加密。");
}

QString already_encrypted_text()
{
    return QStringLiteral("当前已经是加密笔记，如果要更改密码，请先取消加密，再重新加密。");
}

QString mode_changed_text(int mode)
{
    return mode == kEncryptedWithTitle
               ? QStringLiteral("加密类型已经更改为全加密，密码不变。如果要更改密码，请先取消加密，再重新加密。")
               : QStringLiteral("加密类型已经更改为仅加密内容，密码不变。如果要更改密码，请先取消加密，再重新加密。");
}

QString passwords_differ_text()
{
    return QStringLiteral("两次密码输入的不一样，请重新输入。");
}

QString rename_while_pending_text()
{
    return QStringLiteral("此笔记的加密设置已更改但还没有保存，请先保存笔记，再重命名。");
}

QString rename_legacy_form_text()
{
    return QStringLiteral("此笔记是旧版本加密的，请先修改并保存一次笔记，再重命名。");
}

CryptCommandResult encrypt_open_note(NoteCryptState &crypt, Dialogs &dialogs, int note_id, bool entry_selected,
                                     int mode)
{
    if (!entry_selected || note_id < 0) {
        dialogs.message(encrypt_needs_note_text());
        return CryptCommandResult::Unchanged;
    }
    if (crypt.is_crypt == mode) {
        dialogs.message(already_encrypted_text());
        return CryptCommandResult::Unchanged;
    }
    PendingCryptChange stored = stored_state(crypt, note_id);
    if (encrypted_mode(crypt.is_crypt)) {
        // The other encrypted mode: the password stays.
        crypt.is_crypt = mode;
        dialogs.message(mode_changed_text(mode));
    } else {
        QString first = dialogs.password(QStringLiteral("请第一次输入密码(密码不能为空)"), kPasswordPrompt);
        QString second = dialogs.password(QStringLiteral("请再次重复输入密码"), kPasswordPrompt);
        const bool same = first == second;
        wipe_password(second);
        if (!same) {
            wipe_password(first);
            dialogs.message(passwords_differ_text());
            return CryptCommandResult::Unchanged;
        }
        if (first.isEmpty())
            return CryptCommandResult::Unchanged;
        crypt.is_crypt = mode;
        wipe_password(crypt.key_crypt);
        crypt.key_crypt = first;
    }
    crypt.pending_encryption = stored;
    return CryptCommandResult::Changed;
}

CryptCommandResult remove_note_encryption(NoteCryptState &crypt, int note_id)
{
    if (crypt.is_crypt == kPlainNote || note_id < 0)
        return CryptCommandResult::Unchanged;
    const PendingCryptChange stored = stored_state(crypt, note_id);
    crypt.is_crypt = kPlainNote;
    wipe_password(crypt.key_crypt);
    crypt.pending_decryption = stored;
    return CryptCommandResult::Changed;
}

QList<ListMark> leave_without_saving(NoteCryptState &crypt, int note_id)
{
    QList<ListMark> marks;
    for (const PendingCryptChange *p : {&crypt.pending_decryption, &crypt.pending_encryption}) {
        if (!p->active())
            continue;
        marks.append({p->note_id, p->stored_mode});
        if (note_id == p->note_id) {
            crypt.is_crypt = p->stored_mode;
            if (crypt.key_crypt != p->stored_password) {
                wipe_password(crypt.key_crypt);
                crypt.key_crypt = p->stored_password;
            }
        }
    }
    clear_pending(crypt);
    return marks;
}

void note_saved(NoteCryptState &crypt)
{
    clear_pending(crypt);
    crypt.legacy_form = false;
}

void forget_open_note(NoteCryptState &crypt)
{
    wipe_password(crypt.key_crypt);
    clear_pending(crypt);
    crypt.legacy_form = false;
}

void wipe_password(QString &password)
{
    if (password.isDetached() && !password.isEmpty()) {
        QChar *c = password.data();
        std::fill(c, c + password.size(), QChar(u'\0'));
    }
    password.clear();
    password.squeeze();
}

// ---- Writing ----

void write_encoded_note(NoteStore &store, int note_id, const EncodedNoteFields &stored, const QString &put)
{
    // The title row, the notes row and the body change together: an interrupted change of mode
    // never leaves a title of one mode over a body of the other.
    NoteRowsUpdate rows;
    rows.title = true;
    rows.isDel = stored.isDel;
    rows.caption = stored.caption;
    rows.body = true;
    rows.label = stored.label;
    rows.content = stored.content;
    rows.rtf = stored.rtf;
    rows.put = put;
    update_note_rows(store, note_id, rows);
}

// ---- Autosave ----

QString autosave_password(const NoteCryptState &crypt, int note_id)
{
    if (encrypted_mode(crypt.is_crypt) && !crypt.key_crypt.isEmpty())
        return crypt.key_crypt;
    const PendingCryptChange &p = crypt.pending_decryption;
    if (p.active() && p.note_id == note_id && encrypted_mode(p.stored_mode))
        return p.stored_password;
    return QString();
}

// Layout of an encrypted autosave file, one header line each, then the ciphertext:
//   YSNOTE-ENCRYPTED-AUTOSAVE/1
//   <mode>
//   <hex ciphertext of the marker: the password check>
//   <length of the RTF in bytes>
//   <ciphertext of the RTF, zero-filled to whole blocks>
QByteArray autosave_file_bytes(const QByteArray &rtf, int mode, const QString &password)
{
    if (password.isEmpty())
        return rtf;
    QByteArray file = kAutosaveMagic;
    file += QByteArray::number(encrypted_mode(mode) ? mode : kPlainNote) + '\n';
    file += encrypt_text(crypt_marker(), password).toLatin1() + '\n';
    file += QByteArray::number(rtf.size()) + '\n';
    file += encrypt_bytes(rtf, password);
    return file;
}

bool is_encrypted_autosave(const QByteArray &file)
{
    return file.startsWith(kAutosaveMagic);
}

std::optional<DecryptedAutosave> decrypt_autosave(const QByteArray &file, const QString &password)
{
    if (!is_encrypted_autosave(file) || password.isEmpty())
        return std::nullopt;
    qsizetype pos = kAutosaveMagic.size();
    QList<QByteArray> header;
    for (int i = 0; i < 3; ++i) {
        const qsizetype end = file.indexOf('\n', pos);
        if (end < 0)
            return std::nullopt;
        header.append(file.mid(pos, end - pos));
        pos = end + 1;
    }
    bool mode_ok = false;
    bool size_ok = false;
    const int mode = header.at(0).toInt(&mode_ok);
    const qsizetype size = header.at(2).toLongLong(&size_ok);
    const QByteArray cipher = file.mid(pos);
    if (!mode_ok || !size_ok || size < 0 || size > cipher.size() || cipher.size() % 16 != 0)
        return std::nullopt;
    try {
        if (decrypt_text(QString::fromLatin1(header.at(1)), password, TextForm::Utf16Le) != crypt_marker())
            return std::nullopt;
        DecryptedAutosave out;
        out.mode = mode;
        out.rtf = decrypt_bytes(cipher, password).left(size);
        return out;
    } catch (const IntegerConversionError &) {
    } catch (const EAESError &) {
    }
    return std::nullopt;
}

QString autosave_recovery_title()
{
    return QStringLiteral("恢复自动保存的加密笔记，请输入此笔记的密码");
}

AutosaveRecovery recover_autosave(const QByteArray &file, Dialogs &dialogs)
{
    AutosaveRecovery r;
    if (!is_encrypted_autosave(file)) {
        r.rtf = file;
        return r;
    }
    QString candidate = dialogs.password(autosave_recovery_title(), kPasswordPrompt);
    if (candidate.isEmpty()) {
        r.status = AutosaveRecovery::Status::Cancelled;
        return r;
    }
    std::optional<DecryptedAutosave> plain = decrypt_autosave(file, candidate);
    if (!plain) {
        wipe_password(candidate);
        dialogs.message(wrong_password_text());
        r.status = AutosaveRecovery::Status::WrongPassword;
        return r;
    }
    r.status = AutosaveRecovery::Status::Unlocked;
    r.rtf = plain->rtf;
    r.mode = plain->mode;
    r.password = candidate;
    return r;
}

bool restore_autosave_mode(NoteCryptState &crypt, int note_id, int stored_mode, int file_mode, const QString &password)
{
    clear_pending(crypt);
    const int mode = encrypted_mode(file_mode) ? file_mode : kPlainNote;
    crypt.is_crypt = mode;
    wipe_password(crypt.key_crypt);
    if (encrypted_mode(mode))
        crypt.key_crypt = password;
    if (mode == stored_mode)
        return false;
    const PendingCryptChange stored{note_id, stored_mode, encrypted_mode(stored_mode) ? password : QString()};
    if (encrypted_mode(mode))
        crypt.pending_encryption = stored;
    else
        crypt.pending_decryption = stored;
    return true;
}

} // namespace yunshan
