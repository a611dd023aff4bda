// The search index build alone, on a given database file: the processor time (user + system) and
// the wall time of building the index file, one build per run, so that runs of two versions of the
// build can be taken in turn on the same file.
//   bench_index_build DATABASE INDEX
// prints "build: CPU_S s of CPU, WALL_S s of wall time, INDEX_MB MB" and leaves INDEX behind.
#include "store/note_search_index.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

namespace {

double cpu_s()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_index_build DATABASE INDEX\n");
        return 2;
    }
    const QString database = QString::fromLocal8Bit(argv[1]);
    const QString index = QString::fromLocal8Bit(argv[2]);
    const double cpu = cpu_s();
    const auto wall = std::chrono::steady_clock::now();
    const bool built = yunshan::build_search_index_file(database, index, {}, nullptr);
    const double wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    const double cpu_used = cpu_s() - cpu;
    std::printf("build: %.2f s of CPU, %.2f s of wall time, %.0f MB%s\n", cpu_used, wall_s,
                double(QFile(index).size()) / 1e6, built ? "" : " (NOT BUILT)");
    return built ? 0 : 1;
}
