#include "catalogue/category_commands.h"

#include "crypto/note_crypt.h"
#include "platform/dialogs.h"
#include "store/category_rows.h"

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

namespace {

ListTable table_of(int target)
{
    switch (target) {
    case kTargetMajor:
        return ListTable::Class;
    case kTargetMinor:
        return ListTable::Section;
    default:
        return ListTable::Title;
    }
}

PxChange px_change_of(OrderCommand command)
{
    switch (command) {
    case OrderCommand::Pin:
        return PxChange::Pin;
    case OrderCommand::MoveUp:
        return PxChange::Up;
    case OrderCommand::MoveDown:
        return PxChange::Down;
    case OrderCommand::Unpin:
        break;
    }
    return PxChange::Set;
}

bool valid_target(int target)
{
    return target == kTargetMajor || target == kTargetMinor || target == kTargetNote;
}

} // namespace

int apply_order(NoteStore &store, OrderCommand command, int target, const QString &caption, int note_id, int entries)
{
    if (!valid_target(target))
        return 0;
    return change_px(store, table_of(target), caption, note_id, px_change_of(command), unpin_px(entries));
}

int rename_row(NoteStore &store, int target, const QString &stored_caption, const QString &old_caption, int note_id)
{
    if (!valid_target(target))
        return 0;
    return set_caption(store, table_of(target), old_caption, note_id, stored_caption);
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

bool new_class(NoteStore &store, Dialogs &dialogs, const QStringList &major_entries,
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
    add_class(store, new_category_px(int(major_entries.size())), stored);
    show(stored);
    dialogs.message(QStringLiteral("添加成功。"));
    return true;
}

NewSectionOutcome new_section(NoteStore &store, Dialogs &dialogs, int major_entries,
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
    if (!add_section(store, new_category_px(minor_entries), stored, *class_caption)) {
        dialogs.message(QStringLiteral("这个大类已经不存在。"));
        return NewSectionOutcome::Stopped;
    }
    show(stored);
    dialogs.message(QStringLiteral("添加成功。"));
    return NewSectionOutcome::Added;
}

bool delete_category(NoteStore &store, Dialogs &dialogs, int target, const std::optional<QString> &caption)
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
    if (delete_category_row(store, major ? ListTable::Class : ListTable::Section, *caption) == 0) {
        // Deleted meanwhile (another list was out of date): nothing to report as done.
        dialogs.message(major ? QStringLiteral("这个大类已经不存在。") : QStringLiteral("这个小类已经不存在。"));
        return false;
    }
    dialogs.message(QStringLiteral("删除成功。"));
    return true;
}

std::optional<QString> rename_category_or_note(NoteStore &store, Dialogs &dialogs, const QStringList &major_entries,
                                               const RenameTarget &t)
{
    if (!valid_target(t.target))
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
    rename_row(store, t.target, stored, t.caption, t.note_id);
    return name;
}

} // namespace yunshan
