// Exporting a major category of 20,000 notes with pictures into a new database file: ours
// (export_major_category through the store) beside the sqlite3 command copying the same rows
// with ATTACH + INSERT … SELECT, in the same run, alternating which goes first. Both write into
// a fresh file in one transaction with the engine's default durability. The summary gives the
// median wall time of each side and their ratio.
//
//   bench_export [--data-dir DIR] [--runs N]     (default: the build folder's data, 5 runs)
//
// The source database (about 250 MB) is generated on the first run and kept in DIR.
#include "backup/export.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/silent_dialogs.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace yunshan;
using Clock = std::chrono::steady_clock;

constexpr int kNotes = 20000;
constexpr int kSections = 40;
const QString kCategory = QStringLiteral("基准大类");

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The category to export (20,000 notes in 40 minor categories, each note with one picture of
// 8–16 KB, every fifth with an RTF body, every tenth encrypted) and a small one that stays behind.
void generate(const QString &folder)
{
    const QString path = database_file_in(folder);
    QFile::remove(path);
    Connection db;
    db.open(path);
    create_schema(db);
    db.execute(QStringLiteral("BEGIN"));
    db.execute(QStringLiteral("insert into Class(px,caption) values(100,:a)"), {kCategory});
    db.execute(QStringLiteral("insert into Class(px,caption) values(200,'留下')"));
    db.execute(QStringLiteral("insert into Section(px,classId,caption) values(100,3,'留下的小类')"));
    db.execute(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                              "insert into Section(px,classId,caption) select i,2,'小类'||i from n")
                   .arg(kSections));
    db.execute(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                              "insert into notes(label,cuanjian,put,content) select '标签'||i,'2024-01-02 "
                              "03:04:05','2025-06-07 08:09:10',"
                              "'笔记正文'||i||' '||hex(randomblob(400)) from n")
                   .arg(kNotes + 100));
    const QString last = QString::number(kNotes);
    db.execute(
        QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,caption) select id, case when id<=") +
        last + QStringLiteral(" then 2 else 3 end, case when id<=") + last + QStringLiteral(" then 2 + id % ") +
        QString::number(kSections) +
        QStringLiteral(" else 1 end, id, case when id % 10 = 0 then 1 else 0 end, "
                       "case when id % 50 = 0 then 1 else 0 end, '标题'||id from notes"));
    db.execute(QStringLiteral(
        "insert into rtffile(noteId,rtf) select id, cast('{\\rtf1\\ansi '||hex(randomblob(2000))||'\\par}' as blob) "
        "from notes where id%5=0"));
    db.execute(
        QStringLiteral("insert into picture(articleId,img) select id, randomblob(8192+abs(random()%8192)) from notes"));
    db.execute(QStringLiteral("COMMIT"));
}

// The sqlite3 command's copy of the same rows (ids kept as they are: the lower bound).
QString reference_script(const QString &source)
{
    QStringList s;
    s << QStringLiteral("ATTACH '%1' AS src;").arg(source) << QStringLiteral("BEGIN;");
    const QStringList schema = creation_statements();
    for (const QString &sql : schema) {
        if (!sql.contains(QLatin1String("set_table")) && !sql.startsWith(QLatin1String("insert")))
            s << sql;
    }
    const QString ids = QStringLiteral("(SELECT noteId FROM src.title WHERE classId=2)");
    s << QStringLiteral("INSERT INTO Class(px,caption) SELECT 100,caption FROM src.Class WHERE id=2;")
      << QStringLiteral("INSERT INTO Section(px,classId,caption) SELECT px,1,caption FROM src.Section WHERE classId=2 "
                        "ORDER BY px;")
      << QStringLiteral(
             "INSERT INTO notes(label,cuanjian,put,content) SELECT label,cuanjian,put,content FROM src.notes "
             "WHERE id IN %1 ORDER BY id;")
             .arg(ids)
      << QStringLiteral("INSERT INTO rtffile(noteId,rtf) SELECT noteId,rtf FROM src.rtffile WHERE noteId IN %1;")
             .arg(ids)
      << QStringLiteral(
             "INSERT INTO title(px,classId,sectionId,noteId,isDel,fast,isRtf,caption) "
             "SELECT px,1,sectionId,noteId,isDel,fast,isRtf,caption FROM src.title WHERE classId=2 ORDER BY px;")
      << QStringLiteral("INSERT INTO picture(articleId,img) SELECT articleId,img FROM src.picture WHERE articleId IN "
                        "%1 ORDER BY id;")
             .arg(ids)
      << QStringLiteral("COMMIT;");
    return s.join(QLatin1Char('\n'));
}

void remove_db(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

double run_ours(NoteStore &store, const QString &target)
{
    remove_db(target);
    const auto t = Clock::now();
    const ExportCounts c = export_major_category(store, kCategory, target);
    const double s = seconds_since(t);
    if (c.notes != kNotes || c.pictures != kNotes || c.titles != kNotes)
        throw std::runtime_error("our export copied the wrong number of rows");
    return s;
}

double run_reference(const QString &script, const QString &target)
{
    remove_db(target);
    QProcess p;
    const auto t = Clock::now();
    p.start(QStringLiteral("sqlite3"), {target, QStringLiteral(".read ") + script});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        throw std::runtime_error("sqlite3 failed: " + p.readAllStandardError().toStdString());
    const double s = seconds_since(t);
    Connection check;
    check.open(target, false);
    if (check.query_first(QStringLiteral("select count(*) from picture"))->toLongLong() != kNotes)
        throw std::runtime_error("the sqlite3 copy has the wrong number of rows");
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString data = QStringLiteral(BENCH_EXPORT_DATA);
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString opt = QString::fromLocal8Bit(argv[i]);
        if (opt == QLatin1String("--data-dir"))
            data = QString::fromLocal8Bit(argv[i + 1]);
        else if (opt == QLatin1String("--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    try {
        const QString source_folder = QDir(data).filePath(QStringLiteral("source"));
        const QString out = QDir(data).filePath(QStringLiteral("out"));
        QDir().mkpath(source_folder);
        QDir().mkpath(out);
        set_program_folder_override(QDir(data).filePath(QStringLiteral("program")));
        const QString source = database_file_in(source_folder);
        if (!QFileInfo::exists(source)) {
            const auto t = Clock::now();
            generate(source_folder);
            std::printf("generated %s (%.0f MB) in %.1f s\n", qPrintable(source), QFileInfo(source).size() / 1048576.0,
                        seconds_since(t));
        }
        const QString script = QDir(out).filePath(QStringLiteral("reference.sql"));
        {
            QFile f(script);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                throw std::runtime_error("cannot write the script");
            f.write(reference_script(source).toUtf8());
        }

        NoteStore store(QStringLiteral("yunshan_note_bench_export"));
        {
            QString z = source_folder, b;
            SilentDialogs quiet;
            store.Connect_to_db(z, b, quiet);
        }
        const QString ours_target = QDir(out).filePath(QStringLiteral("ours.sl3"));
        const QString reference_target = QDir(out).filePath(QStringLiteral("reference.sl3"));
        std::vector<double> ours, reference;
        for (int r = 0; r < runs; ++r) {
            if (r % 2 == 0) {
                ours.push_back(run_ours(store, ours_target));
                reference.push_back(run_reference(script, reference_target));
            } else {
                reference.push_back(run_reference(script, reference_target));
                ours.push_back(run_ours(store, ours_target));
            }
            std::printf("run %d: ours %.2f s, sqlite3 %.2f s\n", r + 1, ours.back(), reference.back());
            std::fflush(stdout);
        }
        const double o = median(ours), ref = median(reference);
        std::printf(
            "exported file %.0f MB; median: ours %.2f s, sqlite3 ATTACH + INSERT ... SELECT %.2f s, ratio %.2f\n",
            QFileInfo(ours_target).size() / 1048576.0, o, ref, o / ref);
        remove_db(ours_target);
        remove_db(reference_target);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_export: %s\n", e.what());
        return 1;
    }
    return 0;
}
