// Upload and download of a notes database of a given size through a local Apache WebDAV share:
// our PUT and GET of the package beside `curl -T` / `curl -o` of the same package to the same
// server in the same run, plus the time of packing and unpacking, and the peak memory (maximum
// resident set) of a whole cycle (upload with packing, download, unpacking) in a child process.
//
//   bench_webdav [--sizes 200,1000] [--repeat 3] [--data-dir DIR]
//
// Sizes are in MB (10^6 bytes) of database; generated databases are kept in DIR
// (default /tmp/yunshan_bench_webdav) for later runs.
#include "backup/http_client.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "platform/dialogs.h"
#include "platform/silent_dialogs.h"
#include "store/note_store.h"
#include "support/webdav_server.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace {

using namespace yunshan;

const QString kUser = QStringLiteral("bench");
const QString kPassword = QStringLiteral("bench-password");
const QString kZipPassword = QStringLiteral("云杉札记2024");

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

// Notes whose bodies compress like text, and pictures that do not compress (as JPEG data),
// half and half by size.
void generate_database(const QString &path, qint64 bytes)
{
    QFile::remove(path);
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db,
                 "pragma journal_mode=off; pragma synchronous=off;"
                 "create table set_table(key1 text, value1 text);"
                 "create table notes(id integer primary key, body text);"
                 "create table picture(id integer primary key, data blob); begin;",
                 nullptr, nullptr, nullptr);
    static const char *const words[] = {"今天", "会议", "纪要",  "项目",     "进度",    "备份", "数据库",
                                        "笔记", "the ", "note ", "meeting ", "todo ",   "，",   "。",
                                        "\r\n", "客户", "合同",  "提醒",     "summary "};
    Random rnd;
    sqlite3_stmt *text = nullptr;
    sqlite3_stmt *blob = nullptr;
    sqlite3_prepare_v2(db, "insert into notes(body) values(?)", -1, &text, nullptr);
    sqlite3_prepare_v2(db, "insert into picture(data) values(?)", -1, &blob, nullptr);
    qint64 written = 0;
    while (written < bytes) {
        QByteArray body;
        while (body.size() < 64 * 1024)
            body.append(words[rnd.next() % (sizeof words / sizeof words[0])]);
        sqlite3_bind_text(text, 1, body.constData(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
        sqlite3_step(text);
        sqlite3_reset(text);
        QByteArray picture(64 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i + 4 <= picture.size(); i += 4) {
            const std::uint32_t v = rnd.next();
            std::memcpy(picture.data() + i, &v, 4);
        }
        sqlite3_bind_blob(blob, 1, picture.constData(), static_cast<int>(picture.size()), SQLITE_TRANSIENT);
        sqlite3_step(blob);
        sqlite3_reset(blob);
        written += body.size() + picture.size();
    }
    sqlite3_finalize(text);
    sqlite3_finalize(blob);
    sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

struct ChildResult {
    int exit_code = -1;
    double seconds = 0;
    long max_rss_kb = 0;
};

ChildResult run_child(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildResult r;
    r.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.max_rss_kb = usage.ru_maxrss;
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

template <typename F> double seconds_of(F f)
{
    QElapsedTimer t;
    t.start();
    f();
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// The whole cycle in this process: upload with packing, download, unpacking.
int child_cycle(const QString &folder, const QString &url, const QString &unpack_folder)
{
    SilentDialogs dialogs(Dialogs::Answer::Yes, [](const QString &t) { std::printf("  box: %s\n", qPrintable(t)); });
    NoteStore store(QStringLiteral("yunshan_bench_webdav"));
    QString zhu = folder;
    QString bei;
    store.Connect_to_db(zhu, bei, dialogs);
    WebDavSession session;
    const WebDavAccount account{url, kUser, kPassword};
    const UploadOutcome outcome =
        upload_package(session, account, database_file_in(folder), kZipPassword, dialogs, UploadSteps{});
    if (outcome != UploadOutcome::Uploaded)
        return 2;
    QTemporaryFile package(unpack_folder + QStringLiteral("/.download.XXXXXX"));
    if (!package.open())
        return 3;
    const DownloadResult r = download_package(session, account, package.fileName());
    if (r.status != 200)
        return 4;
    extract_package_file(package.fileName(), kZipPassword, unpack_folder);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.size() >= 5 && args.at(1) == QLatin1String("--child-cycle")) {
        try {
            return child_cycle(args.at(2), args.at(3), args.at(4));
        } catch (const std::exception &e) {
            std::fprintf(stderr, "child: %s\n", e.what());
            return 1;
        }
    }

    QList<int> sizes{200};
    int repeat = 3;
    QString data_dir = QStringLiteral("/tmp/yunshan_bench_webdav");
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString &s : args.at(i + 1).split(QLatin1Char(',')))
                sizes.append(s.toInt());
        } else if (args.at(i) == QLatin1String("--repeat")) {
            repeat = std::max(1, args.at(i + 1).toInt());
        } else if (args.at(i) == QLatin1String("--data-dir")) {
            data_dir = args.at(i + 1);
        }
    }

    test::ApacheDav server(kUser, kPassword);
    if (!server.started()) {
        std::fprintf(stderr, "cannot start the WebDAV server: %s\n", qPrintable(server.error()));
        return 1;
    }
    const std::string user_colon_password = (kUser + QLatin1Char(':') + kPassword).toStdString();
    SilentDialogs dialogs(Dialogs::Answer::Yes, [](const QString &t) { std::printf("  box: %s\n", qPrintable(t)); });

    for (const int mb : sizes) {
        const QString folder = data_dir + QStringLiteral("/db%1").arg(mb);
        QDir().mkpath(folder);
        const QString database = database_file_in(folder);
        if (QFileInfo(database).size() < qint64(mb) * 1000000) {
            std::printf("generating %d MB database ...\n", mb);
            generate_database(database, qint64(mb) * 1000000);
        }
        const QString package = folder + QStringLiteral("/bench.zip");
        const double pack_s = seconds_of([&] { build_package_file(database, kZipPassword, package); });
        const qint64 package_size = QFileInfo(package).size();
        const std::string url = (webdav_package_url(server.url())).toStdString();
        // The folder exists from here on.
        {
            HttpClient c;
            HttpRequest mk;
            mk.method = "MKCOL";
            mk.url = webdav_folder_url(server.url());
            mk.headers = {{"Authorization", basic_credentials(kUser, kPassword)}};
            c.send(mk);
        }

        std::vector<double> ours_put, curl_put, ours_get, curl_get;
        for (int i = 0; i < repeat; ++i) {
            WebDavSession session;
            session.set_request_header("Authorization", basic_credentials(kUser, kPassword));
            HttpRequest put;
            put.method = "PUT";
            put.url = webdav_package_url(server.url());
            put.body_file = package;
            qint64 events = 0;
            int status = 0;
            ours_put.push_back(seconds_of([&] {
                status = session.send(put, [&events](TransferDirection, qint64, qint64) { ++events; }).status;
            }));
            if (status != 201 && status != 204)
                std::printf("  PUT answered %d\n", status);
            const ChildResult up = run_child(
                {"curl", "-s", "-f", "-o", "/dev/null", "-u", user_colon_password, "-T", package.toStdString(), url});
            curl_put.push_back(up.seconds);

            const QString got = folder + QStringLiteral("/got.zip");
            ours_get.push_back(seconds_of([&] {
                download_package(session, {server.url(), kUser, kPassword}, got,
                                 [&events](TransferDirection, qint64, qint64) { ++events; });
            }));
            const ChildResult down = run_child({"curl", "-s", "-f", "-u", user_colon_password, "-o",
                                                (folder + QStringLiteral("/curl.zip")).toStdString(), url});
            curl_get.push_back(down.seconds);
            if (up.exit_code != 0 || down.exit_code != 0)
                std::printf("  curl failed: %d %d\n", up.exit_code, down.exit_code);
        }
        const QString unpack = folder + QStringLiteral("/unpacked");
        QDir(unpack).removeRecursively();
        const double unpack_s = seconds_of([&] { extract_package_file(package, kZipPassword, unpack); });
        QDir(unpack).removeRecursively();

        // Peak memory of the whole cycle, in a process that does nothing else.
        QDir(unpack).mkpath(QStringLiteral("."));
        const ChildResult cycle = run_child({QCoreApplication::applicationFilePath().toStdString(), "--child-cycle",
                                             folder.toStdString(), server.url().toStdString(), unpack.toStdString()});
        QDir(unpack).removeRecursively();
        QFile::remove(package);
        QFile::remove(folder + QStringLiteral("/got.zip"));
        QFile::remove(folder + QStringLiteral("/curl.zip"));

        const double op = median(ours_put), cp = median(curl_put), og = median(ours_get), cg = median(curl_get);
        std::printf("database %d MB, package %.1f MB (%d runs, medians)\n", mb, static_cast<double>(package_size) / 1e6,
                    repeat);
        std::printf("  PUT  ours %.2f s   curl -T %.2f s   ratio %.2f\n", op, cp, op / cp);
        std::printf("  GET  ours %.2f s   curl -o %.2f s   ratio %.2f\n", og, cg, og / cg);
        std::printf("  packing %.2f s, unpacking %.2f s\n", pack_s, unpack_s);
        std::printf("  whole cycle (upload with packing, download, unpacking): %.2f s, peak memory %.1f MB%s\n",
                    cycle.seconds, static_cast<double>(cycle.max_rss_kb) / 1024.0,
                    cycle.exit_code == 0 ? "" : "  (FAILED)");
        std::fflush(stdout);
    }
    return 0;
}
