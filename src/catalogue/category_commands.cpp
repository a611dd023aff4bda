#include "catalogue/category_commands.h"

#include "app/main_state.h"
#include "crypto/note_crypt.h"
#include "platform/dialogs.h"
#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan {

namespace {

const QString kEnterPrompt = QStringLiteral("请输入");

// Modal input box with an empty default; cancelling gives empty text.
QString ask(Dialogs &dialogs, const QString &title)
{
    QString value;
    if (!dialogs.input(title, kEnterPrompt, value))
        return QString();
    return value;
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + double_quotes(text) + QLatin1Char('\'');
}

} // namespace

int new_category_px(int entries)
{
    return 100 + 2 * entries;
}

int unpin_px(int entries)
{
    return 100 + entries;
}

QString stored_category_name(const QString &typed)
{
    QString out;
    out.reserve(typed.size() + 4);
    for (const QChar c : typed) {
        if (c == QLatin1Char('"') || c == QLatin1Char('%'))
            out += QLatin1Char('/');
        out += c;
    }
    return out;
}

int index_ignoring_case(const QStringList &entries, const QString &text)
{
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool section_caption_taken(NoteStore &store, const QString &caption)
{
    return !store.get_first_string(QStringLiteral("select caption from Section where caption=") + quoted(caption))
                .isEmpty();
}

QString insert_class_sql(int px, const QString &name)
{
    return QStringLiteral("insert into Class(px,caption) values(") + QString::number(px) + QStringLiteral(",'") +
           escape_sql_text(name) + QStringLiteral("')");
}

QString insert_section_sql(int px, const QString &name, const QString &class_caption, bool for_backup)
{
    return QStringLiteral("insert into Section(px,classId,caption) select ") + QString::number(px) +
           (for_backup ? QStringLiteral(" as b, id,'") : QStringLiteral(" as b,id,'")) + escape_sql_text(name) +
           (for_backup ? QStringLiteral("' as a from Class where ") : QStringLiteral("' as a  from Class where ")) +
           QStringLiteral("caption=") + quoted(class_caption);
}

QString delete_class_sql(const QString &caption)
{
    return QStringLiteral("delete from Class where caption=") + quoted(caption);
}

QString delete_section_sql(const QString &caption)
{
    return QStringLiteral("delete from Section where caption=") + quoted(caption);
}

QString order_sql(OrderCommand command, int target, const QString &caption, int note_id, int entries)
{
    QString set;
    switch (command) {
    case OrderCommand::Pin:
        set = QStringLiteral("px=0");
        break;
    case OrderCommand::MoveUp:
        set = QStringLiteral("px=px-3");
        break;
    case OrderCommand::MoveDown:
        set = QStringLiteral("px=px+3");
        break;
    case OrderCommand::Unpin:
        set = QStringLiteral("px=") + QString::number(unpin_px(entries));
        break;
    }
    switch (target) {
    case kTargetMajor:
        return QStringLiteral("update Class set ") + set + QStringLiteral(" where caption=") + quoted(caption);
    case kTargetMinor:
        return QStringLiteral("update Section set ") + set + QStringLiteral(" where caption=") + quoted(caption);
    case kTargetNote:
        return QStringLiteral("update title set ") + set + QStringLiteral(" where noteId=") + QString::number(note_id);
    default:
        return QString();
    }
}

QString rename_sql(int target, const QString &stored_caption, const QString &old_caption, int note_id)
{
    switch (target) {
    case kTargetMajor:
        return QStringLiteral("update Class set caption=") + quoted(stored_caption) +
               QStringLiteral(" where caption=") + quoted(old_caption);
    case kTargetMinor:
        return QStringLiteral("update Section set caption=") + quoted(stored_caption) +
               QStringLiteral(" where caption=") + quoted(old_caption);
    case kTargetNote:
        return QStringLiteral("update title set caption=") + quoted(stored_caption) + QStringLiteral(" where noteId=") +
               QString::number(note_id);
    default:
        return QString();
    }
}

QString note_caption_for_mode(int mode, const QString &title, const QString &password)
{
    return encode_caption(title, mode, password);
}

QString no_database_text()
{
    return QStringLiteral("数据库没有连接，请先指定一个保存笔记的文件夹。");
}
QString class_exists_text()
{
    return QStringLiteral("大类名称已经存在，不能重复。");
}
QString section_exists_text()
{
    return QStringLiteral("小类名称已经存在，不能重复，与其他大类里的小类也不能重名。");
}

bool new_class(NoteStore &store, Dialogs &dialogs, RunSettings &run, const QStringList &major_entries,
               const std::function<void(const QString &entry)> &show)
{
    const QString name = ask(dialogs, QStringLiteral("请输入大类名称"));
    if (name.isEmpty())
        return false;
    // The list holds stored captions, so the new name is compared in its stored form.
    const QString stored = stored_category_name(name);
    if (index_ignoring_case(major_entries, stored) >= 0) {
        dialogs.message(class_exists_text());
        return false;
    }
    const QString sql = insert_class_sql(new_category_px(int(major_entries.size())), name);
    store.main().execute(sql);
    show(stored);
    if (store.backup_connected())
        store.backup().execute(sql);
    dialogs.message(QStringLiteral("添加成功。"));
    run.global_change = 1;
    return true;
}

NewSectionOutcome new_section(NoteStore &store, Dialogs &dialogs, RunSettings &run, int major_entries,
                              const std::optional<QString> &class_caption, int minor_entries,
                              const std::function<void(const QString &entry)> &show)
{
    if (!class_caption) {
        if (major_entries > 0) {
            dialogs.message(QStringLiteral("请先选择一个大类，以备在其下创建小类。"));
            return NewSectionOutcome::Stopped;
        }
        if (dialogs.question_yes_no(QStringLiteral("建小类前需要先建大类，是否立即创建大类？")) == Dialogs::Answer::Yes)
            return NewSectionOutcome::CreateMajorFirst;
        return NewSectionOutcome::Stopped;
    }
    const QString name = ask(dialogs, QStringLiteral("请输入小类名称"));
    if (name.isEmpty())
        return NewSectionOutcome::Stopped;
    const QString stored = stored_category_name(name);
    if (section_caption_taken(store, stored)) {
        dialogs.message(section_exists_text());
        return NewSectionOutcome::Stopped;
    }
    const int px = new_category_px(minor_entries);
    store.main().execute(insert_section_sql(px, name, *class_caption, false));
    show(stored);
    if (store.backup_connected())
        store.backup().execute(insert_section_sql(px, name, *class_caption, true));
    dialogs.message(QStringLiteral("添加成功。"));
    run.global_change = 1;
    return NewSectionOutcome::Added;
}

bool delete_category(NoteStore &store, Dialogs &dialogs, RunSettings &run, int target,
                     const std::optional<QString> &caption)
{
    const bool major = target == kTargetMajor;
    if (!caption) {
        dialogs.message(major ? QStringLiteral("请先选择一个要删除的大类。")
                              : QStringLiteral("请先选择一个要删除的小类。"));
        return false;
    }
    const QString question =
        (major ? QStringLiteral("是否删除大类“") : QStringLiteral("是否删除小类“")) + *caption + QStringLiteral("”?");
    if (dialogs.question_yes_no(question) != Dialogs::Answer::Yes)
        return false;
    store.set_first_string(major ? delete_class_sql(*caption) : delete_section_sql(*caption));
    dialogs.message(QStringLiteral("删除成功。"));
    run.global_change = 1;
    return true;
}

std::optional<QString> rename_category_or_note(NoteStore &store, Dialogs &dialogs, RunSettings &run,
                                               const QStringList &major_entries, const RenameTarget &t)
{
    if (t.target != kTargetMajor && t.target != kTargetMinor && t.target != kTargetNote)
        return std::nullopt;
    if (t.target == kTargetNote && (t.crypt_change_pending || (t.legacy_form && t.crypt_mode > 0))) {
        dialogs.message(t.crypt_change_pending ? rename_while_pending_text() : rename_legacy_form_text());
        return std::nullopt;
    }
    const QString name = ask(dialogs, QStringLiteral("请输入新的名称"));
    if (name.isEmpty())
        return std::nullopt;
    QString stored = name; // renaming stores the name as typed
    if (t.target == kTargetMajor) {
        if (index_ignoring_case(major_entries, name) >= 0) {
            dialogs.message(class_exists_text());
            return std::nullopt;
        }
    } else if (t.target == kTargetMinor) {
        if (section_caption_taken(store, name)) {
            dialogs.message(section_exists_text());
            return std::nullopt;
        }
    } else {
        stored = note_caption_for_mode(t.crypt_mode, name, t.password);
    }
    store.set_first_string(rename_sql(t.target, stored, t.caption, t.note_id));
    run.global_change = 1;
    return name;
}

} // namespace yunshan
