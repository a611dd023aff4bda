#include "backup/export.h"

#include "platform/dialogs.h"
#include "store/database_files.h"
#include "store/db_error.h"
#include "store/note_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>
#include <stdexcept>
#include <vector>

namespace yunshan {

namespace export_text {
QString no_selection()
{
    return QStringLiteral("导出前请先选中一个大类。");
}
QString ask()
{
    return QStringLiteral("是否导出当前选中的大类？");
}
QString same_names()
{
    return QStringLiteral(
        "注意，导出时不会校验目标数据库里是否有同名大类或者同名小类。请命名新数据库或者选没有同名类的现有数据库。");
}
QString dialog_title()
{
    return QStringLiteral("导出为新数据库");
}
QString dialog_filter()
{
    return QStringLiteral("数据库文件 (*.sl3)");
}
QString live_database()
{
    return QStringLiteral("不能导出到正在使用的主数据库或备份数据库，请选择或新建其他数据库文件。");
}
QString unknown_category()
{
    return QStringLiteral("数据库里没有找到选中的大类，请重新选择大类后再导出。");
}
QString done()
{
    return QStringLiteral("导出完成。");
}
} // namespace export_text

namespace promote_text {
QString no_backup_folder()
{
    return QStringLiteral("备份文件夹没有设置，请先设置备份文件夹。");
}
QString dialog_title()
{
    return QStringLiteral("选择用来替换主数据库的备份文件");
}
QString dialog_filter()
{
    return QStringLiteral("数据库备份文件 (buckup__*.sl3);;全部数据库文件 (*.sl3)");
}
QString live_database()
{
    return QStringLiteral("所选文件是正在使用的主数据库或备份数据库，不能用它替换自己。请选择备份文件夹里的备份文件。");
}
QString not_a_database()
{
    return QStringLiteral("所选文件不是完好的笔记数据库，主备数据库没有被替换。");
}
QString read_only()
{
    return QStringLiteral("已经有其他程序打开了数据库，现在是只读模式，不能替换主备数据库。请先关闭其他程序。");
}
QString ask()
{
    return QStringLiteral("主备数据库将会被替换，此操作不可恢复，是否继续？");
}
QString done()
{
    return QStringLiteral("主备数据库替换完成");
}
} // namespace promote_text

namespace {

void show(const NoticeFn &notice, const QString &text)
{
    if (notice)
        notice(text);
}

// The notice of each step of the copy.
ExportProgress notices(const NoticeFn &notice)
{
    if (!notice)
        return {};
    return [notice](ExportStep step, int count) {
        switch (step) {
        case ExportStep::Database:
            notice(QStringLiteral("创建数据库……"));
            break;
        case ExportStep::Sections:
            notice(QStringLiteral("创建小类表……"));
            break;
        case ExportStep::Notes:
            notice(QStringLiteral("导入笔记中，请等待……"));
            break;
        case ExportStep::NotesCopied:
            notice(QStringLiteral("已导入笔记%1，请等待……").arg(count));
            break;
        case ExportStep::Titles:
            notice(QStringLiteral("导入标题和图片，请等待……"));
            break;
        case ExportStep::TitlesCopied:
            notice(QStringLiteral("已导入标题%1，请等待……").arg(count));
            break;
        }
    };
}

QString canonical(const QString &path)
{
    const QFileInfo info(path);
    const QString c = info.canonicalFilePath();
    if (!c.isEmpty())
        return c;
    // Not there yet: the folder's canonical form and the name.
    const QString folder = info.dir().canonicalPath();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(info.fileName());
}

bool same_file(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString ca = canonical(a);
    return !ca.isEmpty() && ca == canonical(b);
}

} // namespace

QString export_target_path(const QString &chosen)
{
    if (chosen.isEmpty() || !QFileInfo(chosen).suffix().isEmpty())
        return chosen;
    return chosen + QStringLiteral(".sl3");
}

bool is_live_database(NoteStore &store, const QString &path)
{
    return same_file(path, store.main_file()) || same_file(path, store.backup_file());
}

namespace {

// The id of the category to copy, checked on the store's thread: the category is there and the
// target is neither of the store's databases.
qint64 category_to_export(NoteStore &store, const QString &caption, const QString &target)
{
    const qint64 old_major = class_id(store, caption);
    if (old_major == 0)
        throw DbError(export_text::unknown_category());
    if (is_live_database(store, target))
        throw DbError(export_text::live_database());
    return old_major;
}

} // namespace

ExportCounts export_major_category(NoteStore &store, const QString &caption, const QString &target,
                                   const NoticeFn &notice)
{
    const qint64 old_major = category_to_export(store, caption, target);
    return copy_major_category(store.main_file(), old_major, caption, target, notices(notice));
}

bool export_command(NoteStore &store, Dialogs &dialogs, const QString &caption, const NoticeFn &notice,
                    const ExportRunner &run_copy)
{
    if (caption.isEmpty()) {
        dialogs.message(export_text::no_selection());
        return false;
    }
    // A list filled before the category was renamed or deleted elsewhere.
    if (class_id(store, caption) == 0) {
        dialogs.message(export_text::unknown_category());
        return false;
    }
    if (dialogs.question_yes_no(export_text::ask()) != Dialogs::Answer::Yes)
        return false;
    dialogs.message(export_text::same_names());
    const QString target =
        export_target_path(dialogs.save_file(export_text::dialog_title(), export_text::dialog_filter(), QString()));
    if (target.isEmpty())
        return false;
    if (is_live_database(store, target)) {
        dialogs.message(export_text::live_database());
        return false;
    }
    const qint64 old_major = category_to_export(store, caption, target);
    const QString source = store.main_file();
    const ExportCopy copy = [&](const OnMainThread &on_main) {
        NoticeFn shown;
        if (notice)
            shown = [&](const QString &text) { run_on_main(on_main, [&] { notice(text); }); };
        copy_major_category(source, old_major, caption, target, notices(shown));
    };
    if (run_copy)
        run_copy(copy);
    else
        copy({});
    show(notice, QString());
    dialogs.message(export_text::done());
    return true;
}

namespace {

// Writes a copy of `source` beside `target`; commit() then renames it over the target.
std::unique_ptr<QSaveFile> stage_copy(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("%1: %2").arg(source, in.errorString()).toStdString());
    auto out = std::make_unique<QSaveFile>(target);
    if (!out->open(QIODevice::WriteOnly))
        throw std::runtime_error(QStringLiteral("%1: %2").arg(target, out->errorString()).toStdString());
    QByteArray buffer;
    while (!in.atEnd()) {
        buffer = in.read(1 << 20);
        if (buffer.isEmpty() && in.error() != QFileDevice::NoError)
            throw std::runtime_error(QStringLiteral("%1: %2").arg(source, in.errorString()).toStdString());
        if (out->write(buffer) != buffer.size())
            throw std::runtime_error(QStringLiteral("%1: %2").arg(target, out->errorString()).toStdString());
    }
    return out;
}

} // namespace

bool promote_backup_command(NoteStore &store, QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                            const std::function<void()> &on_read_only, const std::function<bool()> &before_replace)
{
    if (bei_db.isEmpty()) {
        dialogs.message(promote_text::no_backup_folder());
        return false;
    }
    // Another instance writes to these files: replacing them under it would lose its writes.
    if (store.read_only()) {
        dialogs.message(store.owns_mark()
                            ? store.read_only_reason() + QStringLiteral("，现在是只读模式，不能替换主备数据库。")
                            : promote_text::read_only());
        return false;
    }
    const QString chosen = dialogs.open_file(promote_text::dialog_title(), promote_text::dialog_filter(), bei_db);
    if (chosen.isEmpty())
        return false;

    QStringList targets;
    if (!zhu_db.isEmpty())
        targets << database_file_in(zhu_db);
    targets << database_file_in(bei_db);
    for (const QString &t : targets) {
        if (same_file(chosen, t)) {
            dialogs.message(promote_text::live_database());
            return false;
        }
    }
    if (is_live_database(store, chosen)) {
        dialogs.message(promote_text::live_database());
        return false;
    }
    // A file that holds the note tables and passes the engine's check of every page.
    if (!deep_check_problem(chosen).isEmpty()) {
        dialogs.message(promote_text::not_a_database());
        return false;
    }
    if (dialogs.question_yes_no(promote_text::ask()) != Dialogs::Answer::Yes)
        return false;
    if (before_replace && !before_replace())
        return false;

    // Both copies complete before either database is touched.
    std::vector<std::unique_ptr<QSaveFile>> copies;
    for (const QString &t : targets)
        copies.push_back(stage_copy(chosen, t));

    store.close_all();
    QString failed;
    for (auto &copy : copies) {
        if (!copy->commit()) {
            failed = QStringLiteral("%1: %2").arg(copy->fileName(), copy->errorString());
            break; // the copies not yet renamed are discarded
        }
    }
    copies.clear();
    store.Connect_to_db(zhu_db, bei_db, dialogs, on_read_only);
    if (!failed.isEmpty())
        throw std::runtime_error(failed.toStdString());
    dialogs.message(promote_text::done());
    return true;
}

} // namespace yunshan
