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

// ---- Creating and deleting ----

QString new_note_caption(const QDate &date, const QLocale &locale)
{
    return QStringLiteral("新的笔记") + locale.toString(date, QLocale::ShortFormat);
}

NewNote create_note(NoteStore &store, const QString &class_caption, const QString &section_caption, int entries,
                    const QString &caption)
{
    NewNote n;
    n.caption = caption;
    n.px = 2 * entries + 100;
    n.note_id = insert_note_rows(store, class_caption, section_caption, n.px, caption);
    return n;
}

bool delete_note(NoteStore &store, int note_id)
{
    return delete_note_rows(store, note_id);
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

// ---- Autosave ----

int autosave_cycle_seconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("YUNSHAN_AUTOSAVE_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : 300;
}

bool autosave_tick(AutosaveCycle &cycle, int note_id)
{
    ++cycle.time_count;
    if (cycle.time_count >= cycle.cycle_seconds && note_id >= 0) {
        cycle.time_count = 0;
        return true;
    }
    return false;
}

QString autosave_path(const QString &folder, int note_id)
{
    return folder + QString::number(note_id) + QStringLiteral(".rtf");
}

namespace {

// RTF text: printable ASCII as it is (\, { and } escaped), everything else as \uN?.
QByteArray rtf_text(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out.append('\\').append(static_cast<char>(u));
        } else if (u >= 0x20 && u < 0x7F) {
            out.append(static_cast<char>(u));
        } else {
            out.append("\\u").append(QByteArray::number(static_cast<qint16>(u))).append('?');
        }
    }
    return out;
}

// The text of group "{\<word> ...}" as rtf_text wrote it.
std::optional<QString> rtf_group_text(const QByteArray &rtf, qsizetype from, const QByteArray &word)
{
    const QByteArray open = "{\\" + word + ' ';
    qsizetype i = rtf.indexOf(open, from);
    if (i < 0)
        return std::nullopt;
    i += open.size();
    QString text;
    while (i < rtf.size()) {
        const char c = rtf.at(i);
        if (c == '}')
            return text;
        if (c == '\\' && i + 1 < rtf.size() && rtf.at(i + 1) == 'u') {
            qsizetype j = i + 2;
            while (j < rtf.size() && (rtf.at(j) == '-' || (rtf.at(j) >= '0' && rtf.at(j) <= '9')))
                ++j;
            text.append(QChar(static_cast<char16_t>(rtf.mid(i + 2, j - i - 2).toShort())));
            i = j + 1; // the fallback '?'
        } else if (c == '\\' && i + 1 < rtf.size()) {
            text.append(QLatin1Char(rtf.at(i + 1)));
            i += 2;
        } else {
            text.append(QLatin1Char(c));
            ++i;
        }
    }
    return std::nullopt;
}

const QByteArray kInfoGroup = "{\\info{\\title ";

} // namespace

QByteArray autosave_bytes(const QTextDocument &body, const QString &title, const QString &label)
{
    QByteArray rtf = write_rtf(body);
    const qsizetype end = rtf.lastIndexOf('}');
    if (end < 0)
        return rtf;
    rtf.insert(end, "{\\info{\\title " + rtf_text(title) + "}{\\keywords " + rtf_text(label) + "}}");
    return rtf;
}

std::optional<AutosaveFields> autosave_fields(const QByteArray &rtf)
{
    const qsizetype info = rtf.lastIndexOf(kInfoGroup);
    if (info < 0)
        return std::nullopt;
    const auto title = rtf_group_text(rtf, info, "title");
    const auto label = rtf_group_text(rtf, info, "keywords");
    if (!title || !label)
        return std::nullopt;
    return AutosaveFields{*title, *label};
}

bool write_autosave(NoteStore &store, const QString &folder, int note_id, const QTextDocument &body,
                    const QString &title, const QString &label)
{
    return write_autosave_file(store, folder, note_id, autosave_bytes(body, title, label));
}

bool write_autosave_file(NoteStore &store, const QString &folder, int note_id, const QByteArray &bytes)
{
    if (!write_private_file(autosave_path(folder, note_id), bytes))
        return false;
    set_table::set_tmp_file1(store, note_id);
    return true;
}

std::optional<RecoveredFields> recovered_note_fields(NoteStore &store, int note_id)
{
    const std::optional<NoteTitleRow> row = read_note_title(store, note_id);
    if (!row)
        return std::nullopt;
    RecoveredFields f;
    f.title = row->caption;
    f.is_crypt = row->isDel;
    f.label = read_note_label(store, note_id);
    return f;
}

} // namespace yunshan
