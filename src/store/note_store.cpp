#include "store/note_store.h"

#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/database_files.h"
#include "store/note_change_log.h"
#include "store/schema.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <exception>
#include <stdexcept>
#include <utility>

#include <sqlite3.h>

namespace yunshan {

QString connection_status_text(int status)
{
    switch (status) {
    case kNotConnected:
        return QStringLiteral("数据库未连接");
    case kMainOnly:
        return QStringLiteral("主数据库就绪");
    case kBackupOnly:
        return QStringLiteral("备数据库就绪");
    case kMainAndBackup:
        return QStringLiteral("主备就绪");
    case kProgramFolder:
        return QStringLiteral("EXE根目录");
    default:
        return QString::number(status);
    }
}

QString database_file_in(const QString &folder)
{
    return join_path(folder, QStringLiteral("notedb.sl3"));
}

QString stale_backup_text(const QString &kept_as)
{
    return QStringLiteral("备份数据库与主数据库不一致，旧备份已改名为“") + kept_as +
           QStringLiteral("”保留，并已从主数据库重新复制备份。");
}

namespace {

const QString kBackupMissingText = QStringLiteral(
    "备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序时可忽略此问题。");

// Whether two existing paths name the same file or folder (after links, "./", trailing slashes
// and hard links).
bool same_file(const QString &a, const QString &b)
{
    struct stat sa {
    }, sb{};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// What two mirrored files written before generation stamps existed must agree on: their tables,
// the ids AUTOINCREMENT handed out, the row count of every table and the settings.
QStringList legacy_fingerprint(Connection &db)
{
    QStringList out;
    const auto tables = db.query(QStringLiteral("select name from sqlite_master where type='table' order by name"));
    for (const auto &row : tables) {
        const QString name = row.value(0).toString();
        out << name;
        if (name == QLatin1String("sqlite_sequence")) {
            for (const auto &seq : db.query(QStringLiteral("select name, seq from sqlite_sequence order by name")))
                out << seq.value(0).toString() + QLatin1Char('=') + seq.value(1).toString();
            continue;
        }
        QString quoted = name;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        const auto count = db.query_first(QStringLiteral("select count(*) from \"") + quoted + QLatin1Char('"'));
        out << (count ? count->toString() : QString());
    }
    if (tables.contains(QList<SqlValue>{QStringLiteral("set_table")})) {
        for (const auto &kv : db.query(QStringLiteral("select key1, value1 from set_table order by key1, value1")))
            out << kv.value(0).toString() + QLatin1Char('=') + kv.value(1).toString();
    }
    return out;
}

bool legacy_files_agree(const QString &main_file, const QString &backup_file)
{
    try {
        Connection a, b;
        a.open_read_only(main_file);
        b.open_read_only(backup_file);
        return legacy_fingerprint(a) == legacy_fingerprint(b);
    } catch (const DbError &) {
        return false;
    }
}

QString new_generation()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
}

QString backup_statement(const QString &sql)
{
    QString out = sql;
    out.replace(QStringLiteral("main."), QString::fromLatin1(kBackupSchema) + QLatin1Char('.'));
    return out;
}

QString notes_text(qint64 notes)
{
    return notes >= 0 ? QStringLiteral("，其中有 %1 条笔记").arg(notes) : QString();
}

QString restore_question(const QString &main_file, const FileProbe &main, const QString &backup_file)
{
    return QStringLiteral("主数据库文件“%1”%2。\n备份数据库文件“%3”完好%4。\n\n是否用备份数据库恢复主数据库？"
                          "\n选“是”将备份复制为主数据库（原来的主数据库文件改名保留）；"
                          "选“否”则这次不打开任何数据库，两个文件都不改动。")
        .arg(main_file, main.cause(), backup_file, notes_text(count_notes(backup_file)));
}

} // namespace

QString both_unusable_text(const QString &main_file, const QString &main_cause, const QString &backup_file,
                           const QString &backup_cause)
{
    return QStringLiteral("主数据库文件“%1”%2；备份数据库文件“%3”%4。\n两个文件都无法使用，程序没有改动它们。"
                          "请在设置里选择别的数据文件夹，或用“将备份文件转为正式…”恢复一个日期备份。")
        .arg(main_file, main_cause, backup_file, backup_cause);
}

NoteStore::NoteStore(const QString &lock_name) : owner_(lock_name) {}

NoteStore::~NoteStore()
{
    close_all();
}

void NoteStore::main_closing()
{
    if (main_.is_open() && before_main_closes_)
        before_main_closes_();
}

void NoteStore::main_reopened()
{
    if (main_.is_open() && after_main_reopens_)
        after_main_reopens_();
}

void NoteStore::read_generation()
{
    generation_.clear();
    try {
        const auto stamp = main_.query_first(QStringLiteral("select value1 from main.set_table where key1=?1"),
                                             {QString::fromLatin1(kGenerationKey)});
        generation_ = stamp && stamp->isValid() ? stamp->toString() : QString();
    } catch (const DbError &) {
        // a file without set_table has no stamp yet
    }
}

void NoteStore::close_connections()
{
    main_closing();
    main_.close();
    backup_attached_ = false;
}

void NoteStore::close_all()
{
    close_connections();
    owner_.release();
}

// ---- Connecting ----

int NoteStore::Connect_to_db(QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                             const std::function<void()> &on_read_only)
{
    if (in_write_)
        throw DbError(std::string("reconnect during a write"));
    close_connections();
    owner_.release();
    read_only_ = false;
    read_only_reason_.clear();
    problem_.clear();
    backup_path_.clear();
    generation_.clear();
    status_ = kNotConnected;

    const QString program_file = database_file_in(program_folder());
    if (QFileInfo::exists(program_file)) {
        zhu_db.clear();
        bei_db.clear();
        const FileProbe p = probe_database(program_file);
        if (!p.sound() && p.state != FileState::Empty) {
            problem_ = QStringLiteral("数据库文件“%1”%2").arg(program_file, p.cause());
            dialogs.error(problem_ + QStringLiteral("。"));
            return status_;
        }
        main_.open(program_file, false);
        if (p.state == FileState::Empty)
            create_schema(main_);
        status_ = kProgramFolder;
        if (!database_writable(program_file)) {
            read_only_ = true;
            read_only_reason_ = QStringLiteral("数据库文件“%1”是只读的").arg(program_file);
        }
        install_note_change_log(main_);
        if (!read_only_)
            complete_schema();
        return status_;
    }

    if (zhu_db.isEmpty() && bei_db.isEmpty())
        return status_;
    if (zhu_db.isEmpty()) {
        // A backup folder alone: its file is shown as there, but nothing reads or writes it.
        if (QFileInfo::exists(database_file_in(bei_db)) && probe_database(database_file_in(bei_db)).sound())
            status_ = kBackupOnly;
        else
            dialogs.message(kBackupMissingText);
        return status_;
    }
    QString backup_file;
    if (!bei_db.isEmpty()) {
        backup_file = database_file_in(bei_db);
        const QString main_file = database_file_in(zhu_db);
        if (same_file(zhu_db, bei_db) || same_file(main_file, backup_file)) {
            // One file opened twice would take every mirrored write twice.
            dialogs.message(QStringLiteral("主备数据库文件夹不能相同。"));
            backup_file.clear();
        }
    }
    try {
        connect_folders(database_file_in(zhu_db), backup_file, dialogs, on_read_only);
    } catch (const DbError &e) {
        problem_ = e.message();
        close_connections();
        owner_.release();
        status_ = kNotConnected;
        throw;
    }
    return status_;
}

void NoteStore::connect_folders(const QString &main_file, const QString &backup_file, Dialogs &dialogs,
                                const std::function<void()> &on_read_only)
{
    const bool owner = owner_.acquire();
    if (owner) {
        remove_interrupted_copies(QFileInfo(main_file).absolutePath());
        if (!backup_file.isEmpty())
            remove_interrupted_copies(QFileInfo(backup_file).absolutePath());
    }
    FileProbe main = probe_database(main_file);
    const FileProbe backup = backup_file.isEmpty() ? FileProbe{} : probe_database(backup_file);
    const bool have_backup_file = !backup_file.isEmpty() && backup.state != FileState::Missing;
    // Both files opened, so what a crash interrupted in either is rolled back: a super-journal
    // left beside the main file names no journal that still needs it. With the backup away its
    // journal might, and it stays.
    if (owner && main.sound() && (backup_file.isEmpty() || backup.sound()))
        remove_orphan_super_journals(main_file);

    if (!owner) {
        // Another instance owns the files: look, touch nothing.
        read_only_ = true;
        read_only_reason_ = QStringLiteral("已经有其他程序打开了数据库");
        if (!main.sound()) {
            problem_ = QStringLiteral("主数据库文件“%1”%2").arg(main_file, main.cause());
            return;
        }
        main_.open(main_file, false);
        status_ = kMainOnly;
        install_note_change_log(main_);
        if (backup.sound()) {
            backup_path_ = backup_file;
            attach_backup();
        }
        if (on_read_only)
            on_read_only();
        return;
    }

    if (main.state == FileState::Missing && !have_backup_file) {
        // The first start with this folder: a new file, which the backup folder then copies.
        main_.open(main_file);
        try {
            create_schema(main_);
        } catch (...) {
            // Nothing else expects an open main database without its tables; the half-made
            // file would pass for an existing one at the next start.
            main_.close();
            QFile::remove(main_file);
            throw;
        }
        main_.close();
        main = probe_database(main_file);
    } else if (!main.sound()) {
        if (backup.sound()) {
            if (dialogs.question_yes_no(restore_question(main_file, main, backup_file)) != Dialogs::Answer::Yes) {
                problem_ = QStringLiteral("主数据库文件“%1”%2，没有打开数据库").arg(main_file, main.cause());
                owner_.release();
                return;
            }
            if (main.state != FileState::Missing && keep_aside(main_file).isEmpty())
                throw DbError(SQLITE_CANTOPEN, main_file, QStringLiteral("cannot rename the damaged file"));
            copy_database_file(backup_file, main_file);
            main = probe_database(main_file);
        } else {
            problem_ = QStringLiteral("主数据库文件“%1”%2").arg(main_file, main.cause());
            if (have_backup_file)
                dialogs.error(both_unusable_text(main_file, main.cause(), backup_file, backup.cause()));
            else
                dialogs.error(problem_ + QStringLiteral("。"));
            owner_.release();
            return;
        }
    }

    main_.open(main_file, false);
    status_ = kMainOnly;
    if (!database_writable(main_file)) {
        read_only_ = true;
        read_only_reason_ = QStringLiteral("主数据库文件“%1”或它所在的文件夹是只读的").arg(main_file);
    }
    install_note_change_log(main_);

    if (!backup_file.isEmpty() && !read_only_) {
        backup_path_ = backup_file;
        if (line_up_backup(main_file, backup_file, dialogs))
            attach_backup();
        if (!backup_attached_) {
            backup_path_.clear();
            dialogs.message(kBackupMissingText);
        }
    }
    if (!read_only_)
        complete_schema();
    if (read_only_ && on_read_only)
        on_read_only();
}

bool NoteStore::line_up_backup(const QString &main_file, const QString &backup_file, Dialogs &dialogs)
{
    const QString folder = QFileInfo(backup_file).absolutePath();
    if (!QFileInfo(folder).isDir())
        return false;
    const FileProbe backup = probe_database(backup_file);
    if (backup.state == FileState::Missing) {
        try {
            copy_database_file(main_file, backup_file);
        } catch (const DbError &) {
            return false;
        }
        return true;
    }
    const FileProbe main = probe_database(main_file);
    bool same = false;
    if (!backup.sound())
        same = false;
    else if (main.generation.isEmpty() && backup.generation.isEmpty())
        same = legacy_files_agree(main_file, backup_file); // written before the stamp existed
    else
        same = main.generation == backup.generation && main.change_counter == backup.change_counter;
    if (same)
        return true;

    // The files went apart (a write that reached one of them, a run without the backup drive, an
    // edit by another program): the backup is kept aside and copied afresh from the main file,
    // unless the main file itself is damaged inside while the backup is not.
    if (!deep_check_problem(main_file).isEmpty() && backup.sound() && deep_check_problem(backup_file).isEmpty()) {
        problem_ = QStringLiteral("主数据库文件“%1”已损坏，备份数据库没有改动").arg(main_file);
        dialogs.error(QStringLiteral("主数据库文件“%1”已损坏，但备份数据库“%2”完好。程序没有改动备份数据库；"
                                     "请关闭程序后用备份数据库替换主数据库文件，或用“将备份文件转为正式…”恢复。")
                          .arg(main_file, backup_file));
        return false;
    }
    const QString kept = keep_aside(backup_file);
    if (kept.isEmpty())
        return false;
    try {
        copy_database_file(main_file, backup_file);
    } catch (const DbError &) {
        return false;
    }
    dialogs.message(stale_backup_text(kept));
    return true;
}

void NoteStore::attach_backup()
{
    if (backup_path_.isEmpty() || !main_.is_open())
        return;
    try {
        main_.attach(backup_path_, QString::fromLatin1(kBackupSchema));
        backup_attached_ = true;
        if (status_ == kMainOnly)
            status_ = kMainAndBackup;
    } catch (const DbError &) {
        backup_attached_ = false;
    }
}

void NoteStore::complete_schema()
{
    const auto missing = [this](const QString &schema, const QString &table) {
        const auto n = main_.query_first(QStringLiteral("select count(*) from %1.sqlite_master where type='table' and "
                                                        "name=?1 collate nocase")
                                             .arg(schema),
                                         {table});
        return !n || n->toLongLong() == 0;
    };
    QStringList schemas{QStringLiteral("main")};
    if (backup_attached_)
        schemas << QString::fromLatin1(kBackupSchema);
    bool any_missing = false;
    for (const QString &schema : schemas)
        for (const QString &t : completed_note_tables())
            any_missing = any_missing || missing(schema, t);
    if (!any_missing) {
        read_generation();
        return;
    }
    // Each file gets what it lacks, in one transaction with the stamp.
    write(
        [&](Writer &w) {
            for (const QString &schema : schemas) {
                if (missing(schema, QStringLiteral("picture"))) {
                    w.db().execute(QStringLiteral("CREATE TABLE %1.picture (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                                  "articleId INTEGER,img BLOB);")
                                       .arg(schema));
                    w.db().execute(QStringLiteral("CREATE INDEX %1.imgIndex ON picture(articleId);").arg(schema));
                }
                if (missing(schema, QStringLiteral("rtffile")))
                    w.db().execute(
                        QStringLiteral("CREATE TABLE %1.rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB);").arg(schema));
                if (missing(schema, QStringLiteral("set_table")))
                    w.db().execute(QStringLiteral("CREATE TABLE %1.set_table (key1 text,value1 TEXT);").arg(schema));
            }
        },
        WriteKind::Bookkeeping);
}

QString NoteStore::renew_backup()
{
    if (!backup_attached_ || backup_path_.isEmpty() || !main_.is_open())
        return QString();
    main_.detach(QString::fromLatin1(kBackupSchema));
    backup_attached_ = false;
    status_ = kMainOnly;
    const QString kept = keep_aside(backup_path_);
    copy_database_file(main_.path(), backup_path_);
    attach_backup();
    return kept;
}

QString NoteStore::replace_main_file(const std::function<bool()> &swap, const QString &prepared_backup)
{
    if (in_write_)
        throw DbError(std::string("file swap during a write"));
    const QString path = main_.path();
    if (path.isEmpty()) {
        QFile::remove(prepared_backup);
        swap();
        return QString();
    }
    const bool with_backup = backup_attached_ && !backup_path_.isEmpty();
    main_closing();
    main_.close();
    backup_attached_ = false;
    bool swapped = false;
    try {
        swapped = swap();
    } catch (...) {
        QFile::remove(prepared_backup);
        reopen_main(path);
        main_reopened();
        throw;
    }
    QString kept;
    std::optional<DbError> copy_failure;
    if (swapped && with_backup) {
        // The backup must mirror the new file before anything writes to it again.
        kept = keep_aside(backup_path_);
        try {
            if (!prepared_backup.isEmpty() && QFileInfo::exists(prepared_backup)) {
                ::unlink(QFile::encodeName(backup_path_ + QStringLiteral("-journal")).constData());
                if (std::rename(QFile::encodeName(prepared_backup).constData(),
                                QFile::encodeName(backup_path_).constData()) != 0)
                    copy_database_file(path, backup_path_);
            } else {
                copy_database_file(path, backup_path_);
            }
        } catch (const DbError &e) {
            copy_failure = e;
        }
    }
    QFile::remove(prepared_backup);
    if (copy_failure) {
        status_ = kMainOnly;
        backup_path_.clear();
    }
    reopen_main(path);
    read_generation();
    main_reopened();
    if (copy_failure)
        throw *copy_failure;
    return kept;
}

void NoteStore::reopen_main(const QString &path)
{
    main_.open(path, false);
    install_note_change_log(main_);
    if (status_ == kMainAndBackup)
        attach_backup();
    if (!backup_attached_ && status_ == kMainAndBackup)
        status_ = kMainOnly;
}

// ---- Reading ----

qint64 NoteStore::get_first_integer(const QString &sql, const SqlParams &params)
{
    if (!main_.is_open())
        return 0;
    const auto v = main_.query_first(sql, params);
    return v ? v->toLongLong() : 0;
}

QString NoteStore::get_first_string(const QString &sql, const SqlParams &params)
{
    if (!main_.is_open())
        return QString();
    const auto v = main_.query_first(sql, params);
    if (!v || !v->isValid())
        return QString();
    if (v->typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v->toByteArray());
    return v->toString();
}

// ---- Writing ----

int Writer::run(const QString &sql, const SqlParams &params)
{
    in_main_statement_ = true;
    const int changed = db_.execute(sql, params);
    in_main_statement_ = false;
    if (mirrored_) {
        // The last inserted id stays the main database's.
        const qint64 last = db_.last_insert_rowid();
        db_.execute(backup_statement(sql), params);
        db_.set_last_insert_rowid(last);
    }
    return changed;
}

qint64 Writer::insert(const QString &table, const QString &sql, const SqlParams &params)
{
    in_main_statement_ = true;
    db_.execute(sql, params);
    const qint64 id = db_.last_insert_rowid();
    in_main_statement_ = false;
    if (mirrored_) {
        QStringList columns;
        for (const auto &row : db_.query(QStringLiteral("select name from pragma_table_info(?1, 'main')"), {table}))
            columns << QLatin1Char('"') + row.value(0).toString() + QLatin1Char('"');
        const QString list = columns.join(QLatin1Char(','));
        db_.execute(QStringLiteral("insert into %1.\"%2\"(%3) select %3 from main.\"%2\" where rowid=?1")
                        .arg(QString::fromLatin1(kBackupSchema), table, list),
                    {id});
        db_.set_last_insert_rowid(id);
    }
    return id;
}

void NoteStore::refuse_write() const
{
    if (!main_.is_open())
        throw DbError(kNoDatabaseOpen, QString(), QString());
    if (read_only_)
        throw DbError(kReadOnlyInstance, main_.path(), read_only_reason_);
}

namespace {

// A failed transaction: the engine's error and whether a statement of the main database raised
// it (anything else, the COMMIT included, may be the backup's).
struct TransactionFailure {
    DbError error;
    bool main;
};

} // namespace

bool NoteStore::run_transaction(const std::function<void(Writer &)> &command, bool mirrored, const QString &generation)
{
    Writer w(main_, mirrored);
    const auto roll_back = [this] {
        if (!main_.in_transaction())
            return;
        try {
            main_.execute(QStringLiteral("ROLLBACK"));
        } catch (const DbError &) {
            // The engine has rolled back on its own.
        }
    };
    try {
        main_.execute(QStringLiteral("BEGIN IMMEDIATE"));
        command(w);
        if (w.cancelled_) {
            roll_back();
            return false;
        }
        // The stamp goes into each file on its own: a file that lacks the row gets it. The last
        // inserted id stays the command's.
        const qint64 last = main_.last_insert_rowid();
        QStringList schemas{QStringLiteral("main")};
        if (mirrored)
            schemas << QString::fromLatin1(kBackupSchema);
        for (const QString &schema : schemas) {
            const SqlParams p{QString::fromLatin1(kGenerationKey), generation};
            if (main_.execute(QStringLiteral("update %1.set_table set value1=?2 where key1=?1").arg(schema), p) == 0)
                main_.execute(QStringLiteral("insert into %1.set_table(key1,value1) values(?1,?2)").arg(schema), p);
        }
        main_.execute(QStringLiteral("COMMIT"));
        main_.set_last_insert_rowid(last);
        return true;
    } catch (const DbError &e) {
        roll_back();
        throw TransactionFailure{e, w.in_main_statement_ || !mirrored};
    } catch (...) {
        roll_back();
        throw;
    }
}

void NoteStore::write_transaction(const std::function<void(Writer &)> &command, WriteKind kind)
{
    refuse_write();
    if (in_write_)
        throw std::logic_error("a write inside a write");
    in_write_ = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{in_write_};
    const QString generation = new_generation();
    bool written = false;
    try {
        written = run_transaction(command, backup_attached_, generation);
    } catch (const TransactionFailure &first) {
        // A failure while the engine tidies up after its commit point (a journal that cannot be
        // deleted) comes after the change is in the file: the stamp tells. Running the command
        // again would apply it twice.
        const std::optional<bool> main_has_it = holds_generation(QStringLiteral("main"), generation);
        if (main_has_it.value_or(false)) {
            if (backup_attached_)
                drop_backup(first.error);
            written = true;
        } else if (first.main || !main_has_it) {
            // Failed in the main database, or it cannot even be read: nothing is tried again.
            throw first.error;
        } else {
            // The backup may have failed: the command goes on in the main database alone.
            drop_backup(first.error, false);
            try {
                written = run_transaction(command, false, generation);
            } catch (const TransactionFailure &again) {
                if (!holds_generation(QStringLiteral("main"), generation).value_or(false)) {
                    // The main database fails as well: neither file changed, the backup stays
                    // the mirror.
                    attach_backup();
                    throw again.error;
                }
                written = true;
            }
            backup_failed(first.error);
        }
    }
    if (!written)
        return;
    generation_ = generation;
    if (kind == WriteKind::Data)
        changed_ = true;
}

std::optional<bool> NoteStore::holds_generation(const QString &schema, const QString &generation)
{
    try {
        const auto stamp =
            main_.query_first(QStringLiteral("select value1 from %1.set_table where key1=?1").arg(schema),
                              {QString::fromLatin1(kGenerationKey)});
        return stamp && stamp->toString() == generation;
    } catch (const DbError &) {
        return std::nullopt;
    }
}

void NoteStore::drop_backup(const DbError &cause, bool report)
{
    try {
        main_.detach(QString::fromLatin1(kBackupSchema));
    } catch (const DbError &) {
        // The engine lets go of the file when the connection closes.
    }
    backup_attached_ = false;
    if (report)
        backup_failed(cause);
}

void NoteStore::backup_failed(const DbError &cause)
{
    status_ = kMainOnly;
    const QString message =
        QStringLiteral("备份数据库“%1”写入失败：%2\n已断开备份数据库，笔记继续保存到主数据库；"
                       "下次启动时会从主数据库重新复制备份。")
            .arg(backup_path_,
                 database_problem_cause(cause.code(), cause.engine_text()) +
                     (cause.engine_text().isEmpty() ? QString() : QStringLiteral("（%1）").arg(cause.engine_text())));
    backup_path_.clear();
    if (on_backup_failure_)
        on_backup_failure_(message);
}

} // namespace yunshan
