#include "backup/export.h"

#include "platform/dialogs.h"
#include "store/connection.h"
#include "store/note_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <memory>
#include <stdexcept>
#include <vector>

namespace yunshan {

void IdMap::append(qint32 old1, qint32 new1)
{
    records_.append({old1, new1});
    if (!first_.contains(old1))
        first_.insert(old1, new1);
}

qint32 IdMap::lookup(qint32 old1) const
{
    return first_.value(old1, -1);
}

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

// The target's schema: each statement with the kind and name of what it creates.
struct SchemaPiece {
    const char *type;
    const char *name;
    const char *sql;
};

const SchemaPiece kTargetSchema[] = {
    {"table", "Class",
     "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"},
    {"table", "Section",
     " CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId INTEGER NOT "
     "NULL,caption TEXT);"},
    {"table", "title",
     "CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   INTEGER,sectionId "
     "INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),fast INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT (0),beiyong2 "
     "INTEGER DEFAULT (0),beiyong3 INTEGER DEFAULT (0),beiyong4 INTEGER DEFAULT (0),beiyong5 TEXT,isRtf INTEGER "
     "DEFAULT (0),caption TEXT);"},
    {"table", "notes",
     "CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT "
     "(0),beiyong2 TEXT,label TEXT,cuanjian TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put TIMESTAMP DEFAULT "
     "CURRENT_TIMESTAMP,content TEXT);"},
    {"table", "picture", "CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB);"},
    {"table", "rtffile", "CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB);"},
    {"table", "beiyong_table",
     "CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 INTEGER,value3 "
     "TEXT,value4 TEXT);"},
    {"index", "sectionIdIndex", "CREATE INDEX sectionIdIndex ON title(sectionId);"},
    {"index", "noteIdIndex", "CREATE INDEX noteIdIndex ON title(noteId);"},
    {"index", "imgIndex", "CREATE INDEX imgIndex ON picture(articleId);"},
};

void create_missing_schema(Connection &target)
{
    PreparedQuery present(
        target, QStringLiteral("select count(*) from sqlite_master where type=:a and name=:b collate nocase"));
    for (const SchemaPiece &piece : kTargetSchema) {
        present.bind(1, QString::fromLatin1(piece.type));
        present.bind(2, QString::fromLatin1(piece.name));
        const bool exists = present.next() && present.integer(0) != 0;
        present.reset();
        if (!exists)
            target.execute(QString::fromLatin1(piece.sql));
    }
}

void show(const NoticeFn &notice, const QString &text)
{
    if (notice)
        notice(text);
}

qint64 major_id_of(NoteStore &store, const QString &caption)
{
    if (!store.main_connected())
        return 0;
    const auto v = store.main().query_first(QStringLiteral("select id from class where caption=:a"), {caption});
    return v ? v->toLongLong() : 0;
}

// The rows of one major category, read from `main` and written into `target` (one open
// transaction); the statements are prepared once and run for every row.
ExportCounts copy_category(Connection &main, Connection &target, qint64 old_major, const QString &caption,
                           const NoticeFn &notice)
{
    ExportCounts counts;
    create_missing_schema(target);

    target.execute(QStringLiteral("insert into Class(px,caption) values(100,:a)"), {caption});
    counts.major_id = target.last_insert_rowid();

    show(notice, QStringLiteral("创建小类表……"));
    IdMap sections;
    {
        PreparedQuery read(main, QStringLiteral("select id,px,caption from Section where classId=:a order by px,id"));
        PreparedQuery write(target, QStringLiteral("insert into Section(px,classId,caption) values(:a,:b,:c)"));
        read.bind(1, old_major);
        write.bind(2, counts.major_id);
        while (read.next()) {
            write.bind_column(1, read, 1);
            write.bind_column(3, read, 2);
            write.run();
            sections.append(qint32(read.integer(0)), qint32(target.last_insert_rowid()));
            ++counts.sections;
        }
    }

    show(notice, QStringLiteral("导入笔记中，请等待……"));
    IdMap notes;
    {
        PreparedQuery read(main, QStringLiteral("select id,label,cuanjian,put,content from notes where id in(select "
                                                "noteid from title where classId=:a) order by id"));
        PreparedQuery write(target,
                            QStringLiteral("insert into notes(label,cuanjian,put,content) values(:a,:b,:c,:d)"));
        read.bind(1, old_major);
        int count = 0;
        while (read.next()) {
            for (int c = 1; c <= 4; ++c)
                write.bind_column(c, read, c);
            write.run();
            notes.append(qint32(read.integer(0)), qint32(target.last_insert_rowid()));
            ++count;
            if (count % 100 == 99)
                show(notice, QStringLiteral("已导入笔记%1，请等待……").arg(count));
        }
        counts.notes = count;
    }
    {
        // The RTF bodies (ciphertext for encrypted notes) go with their notes.
        PreparedQuery read(main, QStringLiteral("select noteId,rtf from rtffile where noteId in(select noteid from "
                                                "title where classId=:a) order by noteId"));
        PreparedQuery write(target, QStringLiteral("insert into rtffile(noteId,rtf) values(:a,:b)"));
        read.bind(1, old_major);
        while (read.next()) {
            const qint32 id = notes.lookup(qint32(read.integer(0)));
            if (id < 0)
                continue;
            write.bind(1, qint64(id));
            write.bind_column(2, read, 1);
            write.run();
            ++counts.rtf_bodies;
        }
    }

    show(notice, QStringLiteral("导入标题和图片，请等待……"));
    {
        PreparedQuery read(
            main,
            QStringLiteral(
                "select px,sectionId,noteId,isDel,fast,isRtf,caption from title where classId=:a order by px,id"));
        PreparedQuery write(target,
                            QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,isRtf,caption) "
                                           "values(:a,:b,:c,:d,:e,:f,:g,:h)"));
        PreparedQuery read_pictures(main, QStringLiteral("select img from picture where articleId=:a order by id"));
        PreparedQuery write_picture(target, QStringLiteral("insert into picture(articleId,img) values(:a,:b)"));
        QSet<qint32> pictures_done;
        read.bind(1, old_major);
        write.bind(2, counts.major_id);
        int count = 0;
        while (read.next()) {
            const qint32 old_note = qint32(read.integer(2));
            const qint32 new_note = notes.lookup(old_note);
            write.bind_column(1, read, 0);
            write.bind(3, qint64(read.is_null(1) ? -1 : sections.lookup(qint32(read.integer(1)))));
            write.bind(4, qint64(new_note));
            write.bind_column(5, read, 3);
            write.bind_column(6, read, 4);
            write.bind_column(7, read, 5);
            write.bind_column(8, read, 6);
            write.run();
            // Pictures belong to the note: copied once, and only for a note that was copied.
            if (new_note >= 0 && !pictures_done.contains(old_note)) {
                pictures_done.insert(old_note);
                read_pictures.bind(1, qint64(old_note));
                write_picture.bind(1, qint64(new_note));
                while (read_pictures.next()) {
                    write_picture.bind_column(2, read_pictures, 0);
                    write_picture.run();
                    ++counts.pictures;
                }
                read_pictures.reset();
            }
            ++count;
            if (count % 100 == 99)
                show(notice, QStringLiteral("已导入标题%1，请等待……").arg(count));
        }
        counts.titles = count;
    }
    return counts;
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

void remove_database_file(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
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

ExportCounts export_major_category(NoteStore &store, const QString &caption, const QString &target,
                                   const NoticeFn &notice)
{
    const qint64 old_major = major_id_of(store, caption);
    if (old_major == 0)
        throw DbError(export_text::unknown_category());
    if (is_live_database(store, target))
        throw DbError(export_text::live_database());

    show(notice, QStringLiteral("创建数据库……"));
    const bool created = !QFileInfo::exists(target);
    // The target has a connection of its own: nothing meant for the notes' databases reaches it.
    Connection out;
    ExportCounts counts;
    try {
        out.open(target);
        out.execute(QStringLiteral("BEGIN IMMEDIATE"));
        counts = copy_category(store.main(), out, old_major, caption, notice);
        out.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            if (out.in_transaction())
                out.execute(QStringLiteral("ROLLBACK"));
        } catch (const DbError &) {
            // The engine ended the transaction itself.
        }
        out.close();
        if (created)
            remove_database_file(target);
        throw;
    }
    return counts;
}

bool export_command(NoteStore &store, Dialogs &dialogs, const QString &caption, const NoticeFn &notice)
{
    if (caption.isEmpty()) {
        dialogs.message(export_text::no_selection());
        return false;
    }
    // A list filled before the category was renamed or deleted elsewhere.
    if (major_id_of(store, caption) == 0) {
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
    export_major_category(store, caption, target, notice);
    show(notice, QString());
    dialogs.message(export_text::done());
    return true;
}

namespace {

// A file that holds the note tables and passes the engine's quick check.
bool is_sound_note_database(const QString &path)
{
    try {
        Connection db;
        db.open(path, false);
        const auto tables =
            db.query_first(QStringLiteral("select count(*) from sqlite_master where type='table' and name in "
                                          "('Class','Section','title','notes') collate nocase"));
        if (!tables || tables->toLongLong() != 4)
            return false;
        const auto check = db.query_first(QStringLiteral("pragma quick_check"));
        return check && check->toString() == QLatin1String("ok");
    } catch (const DbError &) {
        return false;
    }
}

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
    if (!is_sound_note_database(chosen)) {
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
