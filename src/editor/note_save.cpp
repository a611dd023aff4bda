#include "editor/note_save.h"

#include "editor/rtf/rtf.h"
#include "platform/private_files.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "store/sql_text.h"

#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdlib>
#include <cstring>

namespace yunshan {

int MainFirstWrites::run(const QString &sql, const SqlParams &params, const QString &backup_sql)
{
    if (!store_.main_connected())
        return 0;
    const int changed = store_.main().execute(sql, params);
    if (store_.backup_connected() && !store_.backup_lent()) {
        try {
            store_.backup().execute(backup_sql.isEmpty() ? sql : backup_sql, params);
        } catch (const DbError &e) {
            if (backup_error_.isEmpty())
                backup_error_ = e.message();
            store_.drop_backup();
        }
    }
    return changed;
}

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

QString database_now(NoteStore &store)
{
    return store.main().query_first(QStringLiteral("select CURRENT_TIMESTAMP")).value_or(QVariant()).toString();
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
    const QString n = QString::number(r.note_id);
    MainFirstWrites w(store);
    int changed = 0;
    if (write_title) {
        changed +=
            w.run(QStringLiteral("update title set isDel=") + QString::number(mode) + QStringLiteral(", caption='") +
                  double_quotes(stored.caption) + QStringLiteral("' where noteId=") + n);
    }
    const QString label = QStringLiteral("update notes set label='") + double_quotes(stored.label);
    if (write_body) {
        const QString now = database_now(store);
        // One time for both databases, so that they stay identical row for row.
        changed +=
            w.run(label + QStringLiteral("', put=:p, content= :a where Id=") + n, {now, content_value(stored, mode)});
        if (r.is_rtf == 1)
            w.run(QStringLiteral("replace into rtffile(noteId,rtf) values(") + n + QStringLiteral(",:a)"),
                  {stored.rtf});
    } else {
        changed += w.run(label + QStringLiteral("' where Id=") + n);
    }
    result.backup_error = w.backup_error();
    result.outcome = changed > 0 ? SaveOutcome::Saved : SaveOutcome::NoteMissing;
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
    MainFirstWrites w(store);
    const QString now = database_now(store);
    const SqlParams times{now};
    store.main().execute(QStringLiteral("insert into notes(isDel,cuanjian,put) values(0,:t,:t)"), times);
    n.note_id = static_cast<int>(store.main().last_insert_rowid());
    const QString id = QString::number(n.note_id);
    // The backup takes the same id, so both files name the note alike.
    if (store.backup_connected() && !store.backup_lent()) {
        try {
            store.backup().execute(QStringLiteral("insert into notes(id,isDel,cuanjian,put) values(") + id +
                                       QStringLiteral(",0,:t,:t)"),
                                   times);
        } catch (const DbError &e) {
            n.backup_error = e.message();
            store.drop_backup();
        }
    }
    const qint64 class_id = store.get_first_integer(QStringLiteral("select id from class where caption='") +
                                                    double_quotes(class_caption) + QLatin1Char('\''));
    const qint64 section_id = store.get_first_integer(QStringLiteral("select id from section where caption='") +
                                                      double_quotes(section_caption) + QLatin1Char('\''));
    n.px = 2 * entries + 100;
    w.run(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(") + QString::number(n.px) +
          QLatin1Char(',') + QString::number(class_id) + QLatin1Char(',') + QString::number(section_id) +
          QLatin1Char(',') + id + QStringLiteral(",'") + double_quotes(caption) + QStringLiteral("' )"));
    if (n.backup_error.isEmpty())
        n.backup_error = w.backup_error();
    return n;
}

QString delete_note(NoteStore &store, int note_id)
{
    const QString n = QString::number(note_id);
    MainFirstWrites w(store);
    w.run(QStringLiteral("delete from title where noteId=") + n);
    w.run(QStringLiteral("delete from notes where id=") + n);
    w.run(QStringLiteral("delete from rtffile where noteId=") + n);
    return w.backup_error();
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
    const QString n = QString::number(note_id);
    const auto rows = store.main().query(QStringLiteral("select caption,isDel from title where noteId=") + n);
    if (rows.isEmpty() || rows.first().size() != 2)
        return std::nullopt;
    RecoveredFields f;
    f.title = rows.first().at(0).toString();
    f.is_crypt = static_cast<int>(rows.first().at(1).toLongLong());
    f.label = store.get_first_string(QStringLiteral("select label from notes where id=") + n);
    return f;
}

} // namespace yunshan
