// Packing and unpacking a notes database of about 200 MB (text notes and JPEG pictures), with and
// without password, ours beside Info-ZIP zip/unzip on the same file in the same run.
//
// Both sides run the same way: a child process that starts from a file on disk and ends with a
// file (or folder) on disk; ours is this program started again in a child mode. Each run times
// ours and Info-ZIP back to back, alternating which goes first; the summary gives the median wall
// time, the median CPU time (user + system of all threads: we pack with two threads, Info-ZIP
// with one) and the peak resident memory (ru_maxrss of the child) of each side.
//
//   bench_zip [--data-dir DIR] [--runs N]      (N >= 5, default 5)
//
// The generated database is kept in DIR (default /tmp/yunshan_bench_zip) for later runs.
#include "backup/zip_package.h"
#include "platform/code_page.h"

#include <jpeglib.h>
#include <sqlite3.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace {

using yunshan::build_package_file;
using yunshan::extract_package_file;

constexpr qint64 kDatabaseBytes = 200LL * 1024 * 1024;
const QString kPassword = QStringLiteral("云杉札记2024");

QString g_data_dir = QStringLiteral("/tmp/yunshan_bench_zip");

// ---- Test data -------------------------------------------------------------------------------

struct Random {
    std::uint64_t s = 0x9E3779B97F4A7C15ull;
    std::uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<std::uint32_t>(s >> 16);
    }
};

// A photo-like picture: smooth gradients with grain, JPEG quality 85 as the program stores them.
QByteArray make_jpeg(Random &rnd, int width, int height)
{
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    const int fx = 1 + static_cast<int>(rnd.next() % 7);
    const int fy = 1 + static_cast<int>(rnd.next() % 5);
    const int base = static_cast<int>(rnd.next() % 128);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
            const int grain = static_cast<int>(rnd.next() % 48);
            p[0] = static_cast<unsigned char>((base + x * fx / 4 + grain) & 0xFF);
            p[1] = static_cast<unsigned char>((base + y * fy / 3 + grain) & 0xFF);
            p[2] = static_cast<unsigned char>(((x ^ y) / 8 + grain) & 0xFF);
        }
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&cinfo, &out, &out_size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[static_cast<std::size_t>(cinfo.next_scanline) * static_cast<std::size_t>(width) * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray jpeg(reinterpret_cast<const char *>(out), static_cast<qsizetype>(out_size));
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return jpeg;
}

QByteArray make_text(Random &rnd, int words)
{
    static const char *const vocabulary[] = {
        "今天",     "天气",  "不错",    "会议",     "纪要",   "项目", "进度", "备份", "数据库", "笔记",
        "云杉",     "札记",  "学习",    "计划",     "明天",   "需要", "完成", "报告", "the ",   "note ",
        "meeting ", "todo ", "review ", "budget ",  "2024 ",  "，",   "。",   "\r\n", "客户",   "合同",
        "电话",     "地址",  "价格",    "summary ", "draft ", "重要", "提醒", "周末", "读书",   "摘录"};
    constexpr int kCount = sizeof vocabulary / sizeof vocabulary[0];
    QByteArray text;
    for (int i = 0; i < words; ++i)
        text.append(vocabulary[rnd.next() % kCount]);
    return text;
}

void check_sqlite(int rc, sqlite3 *db, const char *what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void generate_database(const QString &path)
{
    QFile::remove(path);
    sqlite3 *db = nullptr;
    check_sqlite(sqlite3_open(QFile::encodeName(path).constData(), &db), db, "open");
    check_sqlite(
        sqlite3_exec(db,
                     "pragma journal_mode=off; pragma synchronous=off;"
                     "create table notes(id integer primary key, title text, tags text, body text, updated text);"
                     "create table picture(id integer primary key, articleId integer, data blob);"
                     "begin;",
                     nullptr, nullptr, nullptr),
        db, "schema");
    Random rnd;
    std::vector<QByteArray> pictures;
    for (int i = 0; i < 40; ++i)
        pictures.push_back(make_jpeg(rnd, 640 + 32 * (i % 8), 480 + 24 * (i % 6)));

    sqlite3_stmt *note = nullptr;
    sqlite3_stmt *picture = nullptr;
    check_sqlite(sqlite3_prepare_v2(db, "insert into notes(id,title,tags,body,updated) values(?,?,?,?,datetime('now'))",
                                    -1, &note, nullptr),
                 db, "prepare");
    check_sqlite(sqlite3_prepare_v2(db, "insert into picture(articleId,data) values(?,?)", -1, &picture, nullptr), db,
                 "prepare");
    qint64 written = 0;
    for (int id = 1; written < kDatabaseBytes; ++id) {
        const QByteArray title = make_text(rnd, 4);
        const QByteArray tags = make_text(rnd, 2);
        const QByteArray body = make_text(rnd, 500 + static_cast<int>(rnd.next() % 6000));
        sqlite3_bind_int(note, 1, id);
        sqlite3_bind_text(note, 2, title.constData(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(note, 3, tags.constData(), static_cast<int>(tags.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(note, 4, body.constData(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
        check_sqlite(sqlite3_step(note), db, "insert note");
        sqlite3_reset(note);
        written += title.size() + tags.size() + body.size();
        if (id % 2 == 0) {
            const QByteArray &jpeg = pictures[rnd.next() % pictures.size()];
            sqlite3_bind_int(picture, 1, id);
            sqlite3_bind_blob(picture, 2, jpeg.constData(), static_cast<int>(jpeg.size()), SQLITE_STATIC);
            check_sqlite(sqlite3_step(picture), db, "insert picture");
            sqlite3_reset(picture);
            written += jpeg.size();
        }
    }
    sqlite3_finalize(note);
    sqlite3_finalize(picture);
    check_sqlite(sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

QString database_path()
{
    return g_data_dir + QStringLiteral("/notedb.sl3");
}

// ---- Child processes ---------------------------------------------------------------------------

struct Measure {
    double wall = 0;
    double cpu = 0;
    double peak_mib = 0;
};

// Runs a program with raw byte arguments (a password goes in as code page 936 bytes for Info-ZIP)
// through the small launcher, which reports its wall time, CPU time and peak memory.
Measure run_measured(const std::vector<QByteArray> &args)
{
    const QByteArray report = QFile::encodeName(g_data_dir + QStringLiteral("/measure.txt"));
    std::vector<QByteArray> full{BENCH_ZIP_MEASURE, report};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (const QByteArray &a : full)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0].toStdString());
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0].toStdString() + " failed");
    Measure m;
    long kib = 0;
    FILE *in = std::fopen(report.constData(), "r");
    if (!in || std::fscanf(in, "%lf %lf %ld", &m.wall, &m.cpu, &kib) != 3)
        throw std::runtime_error("no measurement");
    std::fclose(in);
    m.peak_mib = static_cast<double>(kib) / 1024.0;
    return m;
}

QByteArray self_path()
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        throw std::runtime_error("cannot find the program file");
    return QByteArray(self, n);
}

// Child mode: pack SOURCE into the archive file TARGET, or unpack the archive file SOURCE into the
// folder TARGET. The password travels as UTF-8 hex plus "x", so an empty one is still an argument.
int child(const char *op, const char *password_hex, const char *source, const char *target)
{
    std::string hex = password_hex;
    hex.pop_back();
    const QString password = QString::fromUtf8(QByteArray::fromHex(QByteArray::fromStdString(hex)));
    try {
        // The program's own path: file to file, never the whole archive in memory.
        if (std::strcmp(op, "pack") == 0)
            build_package_file(QFile::decodeName(source), password, QFile::decodeName(target));
        else
            extract_package_file(QFile::decodeName(source), password, QFile::decodeName(target));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

QString archive_file(const char *side, const QString &password)
{
    return g_data_dir +
           QStringLiteral("/%1_%2.zip")
               .arg(QLatin1String(side), password.isEmpty() ? QStringLiteral("plain") : QStringLiteral("password"));
}

Measure pack(bool ours, const QString &password)
{
    const QString out = archive_file(ours ? "ours" : "infozip", password);
    QFile::remove(out);
    if (ours)
        return run_measured({self_path(), "--child", "pack", password.toUtf8().toHex() + "x",
                             QFile::encodeName(database_path()), QFile::encodeName(out)});
    std::vector<QByteArray> args{"zip", "-q", "-j"};
    if (!password.isEmpty())
        args.insert(args.end(), {"-P", yunshan::unicode_to_ansi(password)});
    args.insert(args.end(), {QFile::encodeName(out), QFile::encodeName(database_path())});
    return run_measured(args);
}

// Both sides unpack the same archive (the one Info-ZIP made), so neither reads its own format.
Measure unpack(bool ours, const QString &password)
{
    const QString archive = archive_file("infozip", password);
    const QString target = g_data_dir + (ours ? QStringLiteral("/unpack_ours") : QStringLiteral("/unpack_infozip"));
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    if (ours)
        return run_measured({self_path(), "--child", "unpack", password.toUtf8().toHex() + "x",
                             QFile::encodeName(archive), QFile::encodeName(target)});
    std::vector<QByteArray> args{"unzip", "-q", "-o"};
    if (!password.isEmpty())
        args.insert(args.end(), {"-P", yunshan::unicode_to_ansi(password)});
    args.insert(args.end(), {QFile::encodeName(archive), "-d", QFile::encodeName(target)});
    return run_measured(args);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Series {
    std::vector<double> wall, cpu, peak;
    void add(const Measure &m)
    {
        wall.push_back(m.wall);
        cpu.push_back(m.cpu);
        peak.push_back(m.peak_mib);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], argv[3], argv[4], argv[5]);
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            g_data_dir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(5, std::atoi(argv[++i]));
    }
    QDir().mkpath(g_data_dir);
    if (QFileInfo(database_path()).size() < kDatabaseBytes * 9 / 10) {
        std::fprintf(stderr, "Generating %s ...\n", QFile::encodeName(database_path()).constData());
        generate_database(database_path());
    }
    std::printf("Source: %s, %.1f MB; %d runs, sides alternating\n", QFile::encodeName(database_path()).constData(),
                static_cast<double>(QFileInfo(database_path()).size()) / 1e6, runs);

    std::map<std::string, Series> results;
    for (int run = 0; run < runs; ++run) {
        for (const QString &password : {QString(), kPassword}) {
            const std::string mode = password.isEmpty() ? "plain" : "password";
            for (const char *op : {"pack", "unpack"}) {
                const bool ours_first = run % 2 == 0;
                for (const bool ours : {ours_first, !ours_first}) {
                    const Measure m = std::strcmp(op, "pack") == 0 ? pack(ours, password) : unpack(ours, password);
                    results[std::string(op) + " " + mode + (ours ? " ours" : " infozip")].add(m);
                }
            }
        }
        std::fprintf(stderr, "run %d of %d done\n", run + 1, runs);
    }

    // "paired": the median of each run's own ratio, ours against the Info-ZIP run right beside it,
    // which is what to read when other processes load the machine unevenly over time.
    std::printf("\n%-16s %9s %9s %6s %6s   %9s %9s %6s %6s   %10s %10s\n", "median", "wall ours", "Info-ZIP", "ratio",
                "paired", "CPU ours", "Info-ZIP", "ratio", "paired", "peak ours", "Info-ZIP");
    for (const char *op : {"pack", "unpack"}) {
        for (const char *mode : {"plain", "password"}) {
            const std::string key = std::string(op) + " " + mode;
            const Series &a = results[key + " ours"];
            const Series &b = results[key + " infozip"];
            const double wa = median(a.wall), wb = median(b.wall), ca = median(a.cpu), cb = median(b.cpu);
            std::vector<double> wall_pairs, cpu_pairs;
            for (std::size_t i = 0; i < a.wall.size() && i < b.wall.size(); ++i) {
                wall_pairs.push_back(b.wall[i] > 0 ? a.wall[i] / b.wall[i] : 0.0);
                cpu_pairs.push_back(b.cpu[i] > 0 ? a.cpu[i] / b.cpu[i] : 0.0);
            }
            std::printf("%-16s %8.3fs %8.3fs %6.2f %6.2f   %8.3fs %8.3fs %6.2f %6.2f   %7.1f MiB %6.1f MiB\n",
                        key.c_str(), wa, wb, wb > 0 ? wa / wb : 0.0, median(wall_pairs), ca, cb, cb > 0 ? ca / cb : 0.0,
                        median(cpu_pairs), median(a.peak), median(b.peak));
        }
    }
    return 0;
}
