// Merging two databases of 100,000 notes (bodies of a few KB of mixed Chinese and ASCII, an RTF
// body for 7 in 10, a picture for every twentieth) with 100 changed notes on each side (10 of
// them on both, so 10 conflict copies), beside a plain copy of the share's file as a download
// writes it. Each step runs in a fresh child process, timed with its CPU time and peak memory
// (getrusage of the child):
//   copy         the share's file written anew, 1 MB at a time, and synced (the download's part)
//   fingerprint  compute_fingerprints of one database
//   merge        load the base fingerprints, merge_databases, save the merged fingerprints
//   merge-ahead  the same, with this machine's fingerprints made first (as while downloading)
//
//   bench_sync [--data-dir DIR] [--runs N]      (default: the build folder's data, 3 runs)
//
// The base database (894 MB) is generated on the first run and kept in DIR.
//
// Measured (RelWithDebInfo, a virtual machine with 2 cores shared with other builds, SQLite
// 3.40.1, files in the page cache; median of 5 runs, at a load average of about 3):
//   database     100,000 notes, 5,000 pictures, 894 MB
//   hash         content_hash 10.7 GB/s, zlib crc32 2.7 GB/s on 1 MB bodies
//   copy         1.01 s (cpu 0.24 s), peak 10 MB
//   fingerprint  0.94 s (cpu 0.93 s), peak 26 MB; most of it is the engine reading pages
//   merge        1.27 s (cpu 2.19 s on two threads), peak 51 MB: load base 0.09 s, both files
//                read and the changes written 1.07 s, merged fingerprints saved 0.09 s
//   merge-ahead  wait 1.17 s (the local file read before, 0.91 s)
//   The merge adds 1.27 s and 41 MB to the download's copy (goal: at most 2 s and 100 MB).
//   With only one core free (load average 5 to 7 at other times) the merge took 2.3 to 3.3 s:
//   the two files are then read one after the other, and the local file's part of that (about
//   0.9 s) is what fingerprint_local during the download takes out of the wait.
#include "store/connection.h"
#include "store/schema.h"
#include "sync/content_hash.h"
#include "sync/fingerprints.h"
#include "sync/merge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace yunshan;
using namespace yunshan::sync;
using Clock = std::chrono::steady_clock;

constexpr int kNotes = 100000;
constexpr int kMajors = 5;
constexpr int kMinors = 40;
constexpr int kChangesPerSide = 100;
const QDateTime kNow(QDate(2025, 3, 4), QTime(5, 6));

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// ---- Data ----

// Text of mixed Chinese and ASCII: words from two small vocabularies.
class TextMaker {
  public:
    explicit TextMaker(quint64 seed) : rng_(seed) {}

    QString text(int min_bytes, int max_bytes)
    {
        static const char *chinese[] = {"笔记", "会议", "项目", "计划", "总结", "数据", "同步", "备份", "图片", "标签",
                                        "时间", "问题", "方法", "结果", "分析", "设计", "测试", "文档", "版本", "记录"};
        static const char *ascii[] = {"note", "sync", "merge", "WebDAV", "SQLite", "rtf", "2025", "id", "px", "todo"};
        const int target = min_bytes + int(rng_() % quint64(max_bytes - min_bytes + 1));
        QString out;
        int bytes = 0;
        while (bytes < target) {
            if (rng_() % 3 == 0) {
                const QString w = QString::fromLatin1(ascii[rng_() % 10]);
                out += w + QLatin1Char(' ');
                bytes += int(w.size()) + 1;
            } else {
                out += QString::fromUtf8(chinese[rng_() % 20]);
                bytes += 6;
            }
            if (rng_() % 40 == 0) {
                out += QStringLiteral("。\n");
                bytes += 4;
            }
        }
        return out;
    }

    // The RTF form of a text: Chinese characters as \uN? escapes, as the editor writes them.
    static QByteArray rtf(const QString &text)
    {
        QByteArray out = "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}}\\uc1\\f0\\fs21 ";
        for (const QChar c : text) {
            if (c == QLatin1Char('\n'))
                out += "\\par\n";
            else if (c.unicode() < 128)
                out += char(c.unicode());
            else
                out += "\\u" + QByteArray::number(qint16(c.unicode())) + '?';
        }
        return out + "\\par}";
    }

    QByteArray picture()
    {
        QByteArray img(20000 + int(rng_() % 20000), Qt::Uninitialized);
        for (char &b : img)
            b = char(rng_());
        return img;
    }

    quint64 next() { return rng_(); }

  private:
    std::mt19937_64 rng_;
};

void generate(const QString &path)
{
    QFile::remove(path);
    Connection db;
    db.open(path);
    db.execute(QStringLiteral("PRAGMA synchronous=OFF"));
    create_schema(db);
    db.execute(QStringLiteral("BEGIN"));
    for (int m = 1; m <= kMajors; ++m)
        db.execute(QStringLiteral("insert into Class(px,caption) values(?1,?2)"),
                   {100 + 2 * m, QStringLiteral("大类%1").arg(m)});
    for (int s = 1; s <= kMinors; ++s)
        db.execute(QStringLiteral("insert into Section(px,classId,caption) values(?1,?2,?3)"),
                   {100 + 2 * s, 2 + (s - 1) % kMajors, QStringLiteral("小类%1").arg(s)});
    TextMaker maker(1);
    PreparedQuery notes(db,
                        QStringLiteral("insert into notes(isDel,label,cuanjian,put,content) values(0,?1,?2,?2,?3)"));
    PreparedQuery title(db, QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,caption) "
                                           "values(?1,?2,?3,?4,?5,?6,?7)"));
    PreparedQuery rtf(db, QStringLiteral("insert into rtffile(noteId,rtf) values(?1,?2)"));
    PreparedQuery picture(db, QStringLiteral("insert into picture(articleId,img) values(?1,?2)"));
    for (qint64 id = 1; id <= kNotes; ++id) {
        const QString body = maker.text(1500, 3000);
        const bool encrypted = id % 10 == 0;
        notes.bind(1, maker.text(10, 30));
        notes.bind(2, QStringLiteral("2024-%1-%2 08:00:00")
                          .arg(1 + id % 12, 2, 10, QLatin1Char('0'))
                          .arg(1 + id % 28, 2, 10, QLatin1Char('0')));
        notes.bind(3, encrypted ? QString::fromLatin1(body.toUtf8().toHex().toUpper()) : body);
        notes.run();
        const qint64 section = 1 + id % kMinors;
        title.bind(1, 100 + 2 * (id / kMinors));
        title.bind(2, 2 + (section - 1) % kMajors);
        title.bind(3, section);
        title.bind(4, id);
        title.bind(5, encrypted ? 2 : 0);
        title.bind(6, id % 50 == 0 ? 1 : 0);
        title.bind(7, maker.text(12, 40));
        title.run();
        if (id % 10 < 7) {
            rtf.bind(1, id);
            rtf.bind(2, TextMaker::rtf(body));
            rtf.run();
        }
        if (id % 20 == 0) {
            picture.bind(1, id);
            picture.bind(2, maker.picture());
            picture.run();
        }
    }
    db.execute(QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','000'),('last_time','100')"));
    db.execute(QStringLiteral("COMMIT"));
}

// 100 changes as the program makes them: 70 bodies saved, 10 titles, 5 moves, 5 favourites,
// 5 new notes (one picture each), 5 deletions. The two sides share 10 of their edited bodies.
void change(const QString &path, quint64 seed)
{
    Connection db;
    db.open(path);
    db.execute(QStringLiteral("PRAGMA synchronous=OFF"));
    db.execute(QStringLiteral("BEGIN"));
    TextMaker maker(seed);
    std::mt19937_64 shared(7);
    const auto note = [&](int i) { return qint64(i < 10 ? 1 + shared() % kNotes : 1 + maker.next() % kNotes); };
    int made = 0;
    for (int i = 0; i < 70; ++i, ++made) {
        const QString body = maker.text(1500, 3000);
        const qint64 id = note(i);
        db.execute(QStringLiteral("update notes set content=?1, put=?2 where id=?3"),
                   {body, QStringLiteral("2025-03-01 09:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')), id});
        db.execute(QStringLiteral("replace into rtffile(noteId,rtf) values(?1,?2)"), {id, TextMaker::rtf(body)});
    }
    for (int i = 0; i < 10; ++i, ++made)
        db.execute(QStringLiteral("update title set caption=?1 where noteId=?2"), {maker.text(12, 40), note(99)});
    for (int i = 0; i < 5; ++i, ++made)
        db.execute(QStringLiteral("update title set classId=2, sectionId=1 where noteId=?1"), {note(99)});
    for (int i = 0; i < 5; ++i, ++made)
        db.execute(QStringLiteral("update title set fast=1-fast where noteId=?1"), {note(99)});
    for (int i = 0; i < 5; ++i, ++made) {
        db.execute(QStringLiteral("insert into notes(isDel,label,content) values(0,'新',?1)"),
                   {maker.text(1500, 3000)});
        const qint64 id = db.last_insert_rowid();
        db.execute(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(500,2,1,?1,?2)"),
                   {id, maker.text(12, 40)});
        db.execute(QStringLiteral("insert into picture(articleId,img) values(?1,?2)"), {id, maker.picture()});
    }
    for (int i = 0; i < 5; ++i, ++made) {
        const qint64 id = note(99);
        db.execute(QStringLiteral("delete from title where noteId=?1"), {id});
        db.execute(QStringLiteral("delete from notes where id=?1"), {id});
        db.execute(QStringLiteral("delete from rtffile where noteId=?1"), {id});
    }
    db.execute(QStringLiteral("COMMIT"));
    if (made != kChangesPerSide)
        throw std::runtime_error("wrong number of changes");
}

// The download's part: the file written anew.
void copy_file(const QString &from, const QString &to)
{
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot copy " + from.toStdString());
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (out.write(buffer.constData(), n) != n)
            throw std::runtime_error("cannot write " + to.toStdString());
    }
    // On the disk before it replaces anything, as the download makes sure.
    out.flush();
    if (::fsync(out.handle()) != 0)
        throw std::runtime_error("cannot sync " + to.toStdString());
}

// ---- Steps, each in its own process ----

int run_step(const QStringList &args)
{
    const QString step = args.at(0);
    if (step == QLatin1String("copy")) {
        copy_file(args.at(1), args.at(2));
        return 0;
    }
    if (step == QLatin1String("fingerprint")) {
        const auto t = Clock::now();
        const Fingerprints f = compute_fingerprints(args.at(1));
        std::printf("    fingerprint: %zu notes in %.2f s\n", f.notes.size(), seconds_since(t));
        return 0;
    }
    if (step == QLatin1String("merge") || step == QLatin1String("merge-ahead")) {
        // base prints, local, share, prints out
        std::optional<LocalPrints> ahead;
        double ahead_s = 0;
        auto t = Clock::now();
        if (step == QLatin1String("merge-ahead")) {
            // What the sync does while the download runs; not part of the wait.
            ahead = fingerprint_local(args.at(2));
            ahead_s = seconds_since(t);
        }
        t = Clock::now();
        const auto base = load_fingerprints(args.at(1));
        if (!base)
            throw std::runtime_error("no base fingerprints");
        const double load = seconds_since(t);
        t = Clock::now();
        const MergeResult r = merge_databases(base, args.at(2), args.at(3), kNow, ahead ? &*ahead : nullptr);
        const double merge = seconds_since(t);
        t = Clock::now();
        save_fingerprints(r.merged, args.at(4));
        const double save = seconds_since(t);
        std::printf("    %s: %sload base %.2f s, merge %.2f s, save %.2f s; applied %d, copies %d, kept %d, "
                    "renumbered %d\n",
                    qPrintable(step),
                    ahead ? qPrintable(QStringLiteral("local read ahead %1 s, ").arg(ahead_s, 0, 'f', 2)) : "", load,
                    merge, save, r.report.applied_local_changes, r.report.conflict_copies, r.report.kept_deletions,
                    r.report.renumbered_rows);
        // The wait the sync adds: everything but the reading ahead.
        std::printf("    wait %.2f s\n", load + merge + save);
        return 0;
    }
    return 2;
}

struct Measure {
    double wall = 0, cpu = 0;
    double peak_mb = 0;
};

Measure spawn(const QStringList &args)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(QCoreApplication::applicationFilePath()));
    storage.push_back("--step");
    for (const QString &a : args)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::sync(); // each step starts with nothing left to write back from the one before
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.wall = seconds_since(start);
    m.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.peak_mb = double(usage.ru_maxrss) / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("step " + args.at(0).toStdString() + " failed");
    return m;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void hash_speed()
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < buffer.size(); ++i)
        buffer[i] = char(i * 131 + 7);
    const int rounds = 2000;
    auto t = Clock::now();
    quint64 h = 0;
    for (int i = 0; i < rounds; ++i)
        h += content_hash(buffer.constData(), std::size_t(buffer.size()), quint64(i));
    const double ours = seconds_since(t);
    t = Clock::now();
    uLong c = 0;
    for (int i = 0; i < rounds; ++i)
        c += crc32(uLong(i), reinterpret_cast<const Bytef *>(buffer.constData()), uInt(buffer.size()));
    const double crc = seconds_since(t);
    std::printf("hash of 1 MB bodies: content_hash %.1f GB/s, zlib crc32 %.1f GB/s (%llx %lx)\n",
                rounds * buffer.size() / ours / 1e9, rounds * buffer.size() / crc / 1e9,
                static_cast<unsigned long long>(h & 0xF), c & 0xF);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        if (!args.isEmpty() && args.first() == QLatin1String("--step"))
            return run_step(args.mid(1));
        QString data = QStringLiteral(BENCH_SYNC_DATA);
        int runs = 3;
        for (int i = 0; i + 1 < args.size(); i += 2) {
            if (args[i] == QLatin1String("--data-dir"))
                data = args[i + 1];
            else if (args[i] == QLatin1String("--runs"))
                runs = std::max(1, args[i + 1].toInt());
        }
        QDir().mkpath(data);
        const QDir dir(data);
        const QString base = dir.filePath(QStringLiteral("base.sl3"));
        const QString base_prints = dir.filePath(QStringLiteral("base.prints"));
        const QString local = dir.filePath(QStringLiteral("local.sl3"));
        const QString share_original = dir.filePath(QStringLiteral("share-original.sl3"));
        const QString share = dir.filePath(QStringLiteral("share.sl3"));
        const QString merged_prints = dir.filePath(QStringLiteral("merged.prints"));
        if (!QFileInfo::exists(base)) {
            const auto t = Clock::now();
            generate(base);
            std::printf("generated %s in %.1f s\n", qPrintable(base), seconds_since(t));
        }
        if (!QFileInfo::exists(base_prints))
            save_fingerprints(compute_fingerprints(base), base_prints);
        copy_file(base, local);
        change(local, 11);
        copy_file(base, share_original);
        change(share_original, 22);
        {
            Connection db;
            db.open(base, false);
            std::printf("database: %lld notes, %lld pictures, %.0f MB\n",
                        db.query_first(QStringLiteral("select count(*) from notes"))->toLongLong(),
                        db.query_first(QStringLiteral("select count(*) from picture"))->toLongLong(),
                        QFileInfo(base).size() / 1048576.0);
        }
        hash_speed();

        std::vector<Measure> copies, prints, merges, aheads;
        for (int r = 0; r < runs; ++r) {
            copies.push_back(spawn({QStringLiteral("copy"), share_original, share}));
            prints.push_back(spawn({QStringLiteral("fingerprint"), local}));
            merges.push_back(spawn({QStringLiteral("merge"), base_prints, local, share, merged_prints}));
            copy_file(share_original, share);
            aheads.push_back(spawn({QStringLiteral("merge-ahead"), base_prints, local, share, merged_prints}));
            const Measure &c = copies.back(), &f = prints.back(), &m = merges.back(), &a = aheads.back();
            std::printf("run %d: copy %.2f s (cpu %.2f) %.0f MB | fingerprint %.2f s (cpu %.2f) %.0f MB | merge %.2f s "
                        "(cpu %.2f) %.0f MB | merge read ahead: process %.2f s %.0f MB\n",
                        r + 1, c.wall, c.cpu, c.peak_mb, f.wall, f.cpu, f.peak_mb, m.wall, m.cpu, m.peak_mb, a.wall,
                        a.peak_mb);
        }
        struct Summary {
            double wall, best, cpu, peak_mb;
        };
        const auto summary = [](const char *name, const std::vector<Measure> &v) {
            std::vector<double> wall, cpu, mb;
            for (const Measure &m : v) {
                wall.push_back(m.wall);
                cpu.push_back(m.cpu);
                mb.push_back(m.peak_mb);
            }
            const Summary s{median(wall), *std::min_element(wall.begin(), wall.end()), median(cpu), median(mb)};
            std::printf("%-12s wall median %.2f s, best %.2f s; cpu median %.2f s; peak %.0f MB\n", name, s.wall,
                        s.best, s.cpu, s.peak_mb);
            return s;
        };
        const Summary copy = summary("copy", copies);
        summary("fingerprint", prints);
        const Summary merge = summary("merge", merges);
        summary("merge-ahead", aheads);
        std::printf("the merge adds %.2f s (best %.2f s) and %.0f MB to the download's copy (goal: 2 s, 100 MB)\n",
                    merge.wall, merge.best, merge.peak_mb - copy.peak_mb);
    } catch (const SyncError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
