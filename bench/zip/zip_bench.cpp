// Packing and unpacking a notes database of about 200 MB (text notes and JPEG pictures), with and
// without password, ours beside Info-ZIP zip/unzip on the same file in the same run. The peak
// memory of packing is measured in a child process that does nothing else.
//
//   bench_zip [--data-dir DIR] [--benchmark_... options]
//
// The generated database is kept in DIR (default /tmp/yunshan_bench_zip) for later runs.
#include "backup/zip_package.h"
#include "platform/code_page.h"

#include <benchmark/benchmark.h>
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

using yunshan::build_package;
using yunshan::extract_package;

constexpr qint64 kDatabaseBytes = 200LL * 1024 * 1024;
const QString kPassword = QStringLiteral("云杉札记2024");

QString g_data_dir = QStringLiteral("/tmp/yunshan_bench_zip");
// Per benchmark, one entry per iteration: wall time, and CPU time (user + system) of all threads
// of the work, ours or the tool's process.
std::map<std::string, std::vector<double>> g_seconds;
std::map<std::string, std::vector<double>> g_cpu_seconds;

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
        "今天", "天气", "不错", "会议", "纪要", "项目", "进度", "备份", "数据库", "笔记", "云杉", "札记", "学习", "计划",
        "明天", "需要", "完成", "报告", "the ", "note ", "meeting ", "todo ", "review ", "budget ", "2024 ", "，", "。",
        "\r\n", "客户", "合同", "电话", "地址", "价格", "summary ", "draft ", "重要", "提醒", "周末", "读书", "摘录"};
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
    check_sqlite(sqlite3_exec(db,
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
    check_sqlite(sqlite3_prepare_v2(db, "insert into notes(id,title,tags,body,updated) values(?,?,?,?,datetime('now'))", -1, &note, nullptr), db, "prepare");
    check_sqlite(sqlite3_prepare_v2(db, "insert into picture(articleId,data) values(?,?)", -1, &picture, nullptr), db, "prepare");
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

QString database_path() { return g_data_dir + QStringLiteral("/notedb.sl3"); }

// ---- Helpers ---------------------------------------------------------------------------------

double cpu_seconds(const rusage &u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double own_cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return cpu_seconds(u);
}

double g_last_child_cpu = 0;

// Runs a program with raw byte arguments (the password goes in as code page 936 bytes); its CPU
// time is left in g_last_child_cpu.
int run(const std::vector<QByteArray> &args)
{
    std::vector<char *> argv;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0].toStdString());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    g_last_child_cpu = cpu_seconds(usage);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void run_checked(const std::vector<QByteArray> &args)
{
    if (run(args) != 0)
        throw std::runtime_error(args[0].toStdString() + " failed");
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void record(benchmark::State &state, const std::string &name, double seconds, double cpu)
{
    state.SetIterationTime(seconds);
    g_seconds[name].push_back(seconds);
    g_cpu_seconds[name].push_back(cpu);
    state.counters["cpu_s"] = cpu;
}

QByteArray read_file(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

long vm_hwm_kb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// ---- Benchmarks --------------------------------------------------------------------------------

void pack_ours(benchmark::State &state, const std::string &name, const QString &password)
{
    for (auto _ : state) {
        const double cpu = own_cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        QByteArray archive = build_package(database_path(), password);
        benchmark::DoNotOptimize(archive.data());
        record(state, name, seconds_since(start), own_cpu_seconds() - cpu);
        state.counters["archive_MB"] = static_cast<double>(archive.size()) / 1e6;
    }
}

void pack_infozip(benchmark::State &state, const std::string &name, const QString &password)
{
    const QString out = g_data_dir + QStringLiteral("/infozip.zip");
    for (auto _ : state) {
        QFile::remove(out);
        std::vector<QByteArray> args{"zip", "-q", "-j"};
        if (!password.isEmpty())
            args.insert(args.end(), {"-P", yunshan::unicode_to_ansi(password)});
        args.insert(args.end(), {QFile::encodeName(out), QFile::encodeName(database_path())});
        const auto start = std::chrono::steady_clock::now();
        run_checked(args);
        record(state, name, seconds_since(start), g_last_child_cpu);
        state.counters["archive_MB"] = static_cast<double>(QFileInfo(out).size()) / 1e6;
    }
}

QString our_archive_file(const QString &password)
{
    return g_data_dir + (password.isEmpty() ? QStringLiteral("/ours_plain.zip") : QStringLiteral("/ours_password.zip"));
}

void unpack_ours(benchmark::State &state, const std::string &name, const QString &password)
{
    const QByteArray archive = read_file(our_archive_file(password));
    const QString target = g_data_dir + QStringLiteral("/unpack_ours");
    for (auto _ : state) {
        QDir(target).removeRecursively();
        const double cpu = own_cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        extract_package(archive, password, target);
        record(state, name, seconds_since(start), own_cpu_seconds() - cpu);
    }
}

void unpack_infozip(benchmark::State &state, const std::string &name, const QString &password)
{
    const QString target = g_data_dir + QStringLiteral("/unpack_infozip");
    for (auto _ : state) {
        QDir(target).removeRecursively();
        std::vector<QByteArray> args{"unzip", "-q", "-o"};
        if (!password.isEmpty())
            args.insert(args.end(), {"-P", yunshan::unicode_to_ansi(password)});
        args.insert(args.end(), {QFile::encodeName(our_archive_file(password)), "-d", QFile::encodeName(target)});
        const auto start = std::chrono::steady_clock::now();
        run_checked(args);
        record(state, name, seconds_since(start), g_last_child_cpu);
    }
}

// ---- Peak memory of packing, in a child process -------------------------------------------------

int child_pack(const QString &source, const QString &password)
{
    const long baseline = vm_hwm_kb();
    const QByteArray archive = build_package(source, password);
    const long peak = vm_hwm_kb();
    std::printf("%lld %ld %ld\n", static_cast<long long>(archive.size()), baseline, peak);
    return 0;
}

struct MemoryResult {
    long long archive_bytes = 0;
    long baseline_kb = 0;
    long peak_kb = 0;
};

MemoryResult measure_pack_memory(const QString &password)
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        throw std::runtime_error("cannot find the program file");
    // The password travels as UTF-8 hex so no shell quoting is involved.
    const std::string command = std::string("'") + self + "' --child-pack '" + QFile::encodeName(database_path()).toStdString() + "' "
        + password.toUtf8().toHex().toStdString() + "x";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot start the child");
    MemoryResult r;
    if (std::fscanf(pipe, "%lld %ld %ld", &r.archive_bytes, &r.baseline_kb, &r.peak_kb) != 3)
        r = {};
    pclose(pipe);
    return r;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void print_summary()
{
    std::printf("\nSource: %s, %.1f MB\n", QFile::encodeName(database_path()).constData(),
                static_cast<double>(QFileInfo(database_path()).size()) / 1e6);
    std::printf("\n%-16s %10s %10s %7s   %10s %10s %7s\n", "median of runs", "wall ours", "Info-ZIP", "ratio", "CPU ours",
                "Info-ZIP", "ratio");
    for (const char *op : {"pack", "unpack"}) {
        for (const char *mode : {"plain", "password"}) {
            const std::string ours = std::string(op) + "/ours/" + mode;
            const std::string theirs = std::string(op) + "/infozip/" + mode;
            const double a = median(g_seconds[ours]);
            const double b = median(g_seconds[theirs]);
            const double ca = median(g_cpu_seconds[ours]);
            const double cb = median(g_cpu_seconds[theirs]);
            if (a > 0 && b > 0)
                std::printf("%-16s %9.3fs %9.3fs %7.2f   %9.3fs %9.3fs %7.2f\n", (std::string(op) + " " + mode).c_str(), a, b, a / b,
                            ca, cb, cb > 0 ? ca / cb : 0.0);
        }
    }
    std::printf("\nPeak memory of build_package (VmHWM of a child process that only packs):\n");
    for (const QString &password : {QString(), kPassword}) {
        const MemoryResult m = measure_pack_memory(password);
        const double archive_mb = static_cast<double>(m.archive_bytes) / (1024.0 * 1024.0);
        const double peak_mb = static_cast<double>(m.peak_kb) / 1024.0;
        std::printf("  %-9s archive %.1f MiB, baseline %.1f MiB, peak %.1f MiB, peak - archive %.1f MiB (goal <= 64)\n",
                    password.isEmpty() ? "plain" : "password", archive_mb, static_cast<double>(m.baseline_kb) / 1024.0, peak_mb,
                    peak_mb - archive_mb);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--child-pack") == 0) {
        std::string hex = argv[3];
        hex.pop_back(); // the "x" that keeps an empty password a visible argument
        return child_pack(QString::fromLocal8Bit(argv[2]), QString::fromUtf8(QByteArray::fromHex(QByteArray::fromStdString(hex))));
    }
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            g_data_dir = QString::fromLocal8Bit(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    int rest_count = static_cast<int>(rest.size());

    QDir().mkpath(g_data_dir);
    if (QFileInfo(database_path()).size() < kDatabaseBytes * 9 / 10) {
        std::fprintf(stderr, "Generating %s ...\n", QFile::encodeName(database_path()).constData());
        generate_database(database_path());
    }
    for (const QString &password : {QString(), kPassword}) {
        QFile f(our_archive_file(password));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(build_package(database_path(), password)) < 0)
            throw std::runtime_error("cannot write the archive");
    }

    struct Entry {
        const char *name;
        void (*fn)(benchmark::State &, const std::string &, const QString &);
        QString password;
    };
    const Entry entries[] = {
        {"pack/ours/plain", pack_ours, QString()},          {"pack/infozip/plain", pack_infozip, QString()},
        {"pack/ours/password", pack_ours, kPassword},       {"pack/infozip/password", pack_infozip, kPassword},
        {"unpack/ours/plain", unpack_ours, QString()},      {"unpack/infozip/plain", unpack_infozip, QString()},
        {"unpack/ours/password", unpack_ours, kPassword},   {"unpack/infozip/password", unpack_infozip, kPassword},
    };
    for (const Entry &e : entries) {
        const std::string name = e.name;
        const auto fn = e.fn;
        const QString password = e.password;
        benchmark::RegisterBenchmark(e.name, [name, fn, password](benchmark::State &state) { fn(state, name, password); })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(3);
    }
    benchmark::Initialize(&rest_count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_summary();
    return 0;
}
