// Taking the notes database out of a downloaded package that holds 65,534 entries (a package
// made by hand or by another tool): the database alone, as the download does, beside unpacking
// every entry. The archive is written here, stored entries of a few bytes around a 4 MB database.
//
//   bench_zip_crowded [--data-dir DIR] [--runs N]      (default /tmp/yunshan_bench_zip_crowded, 1)
//
// Measured here: the database alone 0.16 s, every entry 264 s (one flush to disk per entry).
#include "backup/zip_package.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kEntries = 65534;

void put16(QByteArray &b, quint16 v)
{
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
}

void put32(QByteArray &b, quint32 v)
{
    put16(b, static_cast<quint16>(v & 0xFFFF));
    put16(b, static_cast<quint16>(v >> 16));
}

// A stored (uncompressed) archive of `kEntries` entries; the first is notedb.sl3.
QByteArray crowded_archive()
{
    QByteArray database(4 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < database.size(); ++i)
        database[i] = static_cast<char>((i * 2654435761u) >> 24);
    QByteArray archive;
    QByteArray central;
    for (int n = 0; n < kEntries; ++n) {
        const QByteArray name = n == 0 ? QByteArray("notedb.sl3") : "f/" + QByteArray::number(n) + ".txt";
        const QByteArray data = n == 0 ? database : QByteArray::number(n);
        const quint32 crc = static_cast<quint32>(
            crc32(0, reinterpret_cast<const Bytef *>(data.constData()), static_cast<uInt>(data.size())));
        const quint32 offset = static_cast<quint32>(archive.size());
        for (QByteArray *record : {&archive, &central}) {
            const bool local = record == &archive;
            put32(*record, local ? 0x04034b50 : 0x02014b50);
            if (!local)
                put16(*record, 20); // made by
            put16(*record, 20);     // needed
            put16(*record, 0x0800); // UTF-8 names
            put16(*record, 0);      // stored
            put16(*record, 0);
            put16(*record, 0x21);
            put32(*record, crc);
            put32(*record, static_cast<quint32>(data.size()));
            put32(*record, static_cast<quint32>(data.size()));
            put16(*record, static_cast<quint16>(name.size()));
            put16(*record, 0);
            if (!local) {
                put16(*record, 0);
                put16(*record, 0);
                put16(*record, 0);
                put32(*record, 0);
                put32(*record, offset);
            }
            record->append(name);
        }
        archive.append(data);
    }
    const quint32 central_offset = static_cast<quint32>(archive.size());
    archive.append(central);
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, kEntries);
    put16(archive, kEntries);
    put32(archive, static_cast<quint32>(central.size()));
    put32(archive, central_offset);
    put16(archive, 0);
    return archive;
}

template <typename F> double seconds_of(F &&work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    QString data_dir = QStringLiteral("/tmp/yunshan_bench_zip_crowded");
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            data_dir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
    }
    QDir().mkpath(data_dir);
    const QString archive = data_dir + QStringLiteral("/crowded.zip");
    QFile out(archive);
    if (!out.open(QIODevice::WriteOnly) || out.write(crowded_archive()) < 0)
        return 2;
    out.close();
    std::printf("Archive: %s, %.1f MB, %d entries\n", QFile::encodeName(archive).constData(),
                static_cast<double>(out.size()) / 1e6, kEntries);

    std::vector<double> one, all;
    for (int run = 0; run < runs; ++run) {
        const QString target = data_dir + QStringLiteral("/one");
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        one.push_back(seconds_of([&] {
            yunshan::extract_entry_file(archive, QString(), QStringLiteral("notedb.sl3"),
                                        target + QStringLiteral("/notedb.sl3"));
        }));
        const QString every = data_dir + QStringLiteral("/all");
        QDir(every).removeRecursively();
        all.push_back(seconds_of([&] { yunshan::extract_package_file(archive, QString(), every); }));
    }
    std::sort(one.begin(), one.end());
    std::sort(all.begin(), all.end());
    std::printf("database only (extract_entry_file): median %.3f s\n", one[one.size() / 2]);
    std::printf("every entry (extract_package_file): median %.3f s\n", all[all.size() / 2]);
    QDir(data_dir + QStringLiteral("/all")).removeRecursively();
    return 0;
}
