#include "notes/autosave.h"

#include "editor/rtf/rtf.h"
#include "platform/private_files.h"
#include "store/note_rows.h"
#include "store/note_store.h"
#include "store/set_table.h"

#include <QFile>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdlib>

namespace yunshan {

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

void end_autosave_cycle(NoteStore &store, const QString &folder, int note_id)
{
    QFile::remove(autosave_path(folder, note_id));
    const QString pending = set_table::read_tmp_file1(store);
    bool ok = false;
    const int pending_id = pending.toInt(&ok);
    if (ok && pending != QLatin1String("000") &&
        (pending_id == note_id || !QFile::exists(autosave_path(folder, pending_id))))
        set_table::reset_tmp_file1(store);
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
