#include "editor/note_save.h"

#include "editor/rtf/rtf.h"
#include "platform/private_files.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "store/set_table.h"

#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdlib>
#include <cstring>

namespace yunshan {

NoteFields plain_note_fields(const QString &title, const QString &label, const QTextDocument &body, bool with_rtf)
{
    NoteFields f;
    f.caption = title;
    f.label = label;
    f.content = plain_text_copy(body);
    if (with_rtf)
        f.rtf = write_rtf(body);
    return f;
}

NoteFields stored_note_fields(const NoteFields &plain, int is_crypt, const QString &key_crypt)
{
    if (is_crypt != 1 && is_crypt != 2)
        return plain;
    PlainNoteFields in;
    in.title = plain.caption;
    in.label = plain.label;
    // The plain copy without its FF FE mark, as text.
    QString text(plain.content.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), plain.content.constData(), static_cast<size_t>(text.size()) * 2);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    in.plain_text = text;
    if (!plain.rtf.isEmpty())
        in.rtf = plain.rtf;
    const EncodedNoteFields e = encode_note_fields(in, is_crypt, key_crypt);
    NoteFields out;
    out.caption = e.caption;
    out.label = e.label;
    out.content = e.content.toLatin1();
    out.rtf = e.rtf.value_or(QByteArray());
    return out;
}

SqlValue content_value(const NoteFields &stored, int is_crypt)
{
    if (is_crypt == 1 || is_crypt == 2)
        return QString::fromLatin1(stored.content);
    // FF FE and UTF-16LE: the text with its leading U+FEFF.
    const QByteArray &b = stored.content;
    QString text(b.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), b.constData(), static_cast<size_t>(text.size()) * 2);
    return text;
}

NoteSaveResult save_note(NoteStore &store, const SaveRequest &r)
{
    NoteSaveResult result;
    if (r.note_id < 0 || !r.body || !store.main_connected())
        return result;
    int mode = r.is_crypt;
    bool write_title = r.title_changed || r.legacy_form;
    if ((mode == 1 || mode == 2) && r.key_crypt.isEmpty()) {
        // No password in memory: stored in plain, and the title row says so.
        mode = 0;
        write_title = true;
    }
    const bool write_body = r.body_changed || r.legacy_form;
    result.is_crypt = mode;
    if (!write_title && !write_body) {
        result.outcome = SaveOutcome::Saved; // nothing changed
        return result;
    }
    const bool with_rtf = write_body && r.is_rtf == 1;
    const NoteFields stored =
        stored_note_fields(plain_note_fields(r.title, r.label, *r.body, with_rtf), mode, r.key_crypt);
    NoteRowsUpdate update;
    update.title = write_title;
    update.isDel = mode;
    update.caption = stored.caption;
    update.body = write_body;
    update.label = stored.label;
    if (write_body) {
        update.content = content_value(stored, mode);
        if (r.is_rtf == 1)
            update.rtf = stored.rtf;
    }
    result.outcome = update_note_rows(store, r.note_id, update) ? SaveOutcome::Saved : SaveOutcome::NoteMissing;
    return result;
}

// ---- Save as ----

QString save_as_filter()
{
    return QStringLiteral("rtf格式 (*.rtf);;纯文本 (*.txt)");
}

QString save_as_file_name(const QString &title)
{
    QString name;
    for (const QChar c : title) {
        if (c.unicode() < 0x20 || QStringLiteral("\"*/:<>?\\|").contains(c))
            continue;
        name += c;
    }
    return name + QStringLiteral(".rtf");
}

QString write_note_file(QString path, const QTextDocument &body)
{
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".rtf");
    const bool plain = QFileInfo(path).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString());
    file.write(plain ? plain_text_copy(body) : write_rtf(body));
    if (!file.commit())
        return QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString());
    return QString();
}

} // namespace yunshan
