#include "zip_test_util.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <zlib.h>

namespace yunshan::test {

QByteArray sample_bytes(qsizetype size, std::uint32_t seed)
{
    static const char *const words[] = {"note ",    "云杉 ", "札记 ", "backup ",  "今天 ",
                                        "picture ", "日记 ", "the ",  "database "};
    QByteArray out;
    out.reserve(size);
    std::uint32_t state = seed * 2654435761u + 1;
    const auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    while (out.size() < size) {
        if (next() % 3 == 0) {
            for (int i = 0; i < 2000; ++i)
                out.append(static_cast<char>(next()));
        } else {
            for (int i = 0; i < 300; ++i)
                out.append(words[next() % 9]);
        }
    }
    out.truncate(size);
    return out;
}

QByteArray noise_bytes(qsizetype size, std::uint32_t seed)
{
    QByteArray out(size, Qt::Uninitialized);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (char &c : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state >> 24);
    }
    return out;
}

QByteArray text_bytes(qsizetype size, std::uint32_t seed)
{
    static const char *const words[] = {"会议 ", "纪要 ", "note ", "todo ", "云杉 ", "\r\n", "budget ", "读书 "};
    QByteArray out;
    out.reserve(size + 16);
    std::uint32_t state = seed * 2654435761u + 7;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        out.append(words[(state >> 16) % 8]);
    }
    out.truncate(size);
    return out;
}

static void put16(QByteArray &b, std::uint16_t v)
{
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
}

static void put32(QByteArray &b, std::uint32_t v)
{
    put16(b, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(b, static_cast<std::uint16_t>(v >> 16));
}

QByteArray make_stored_zip(const std::vector<RawEntry> &entries)
{
    QByteArray archive;
    QByteArray central;
    for (const RawEntry &e : entries) {
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef *>(e.data.constData()), static_cast<uInt>(e.data.size())));
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const auto size = static_cast<std::uint32_t>(e.data.size());
        put32(archive, 0x04034b50);
        const std::uint16_t flags = e.utf8_flag ? 0x0800 : 0;
        put16(archive, 10);
        put16(archive, flags);
        put16(archive, 0);
        put16(archive, 0);
        put16(archive, 0x5A21);
        put32(archive, crc);
        put32(archive, size);
        put32(archive, size);
        put16(archive, static_cast<std::uint16_t>(e.name.size()));
        put16(archive, 0);
        archive.append(e.name);
        archive.append(e.data);

        put32(central, 0x02014b50);
        put16(central, 20);
        put16(central, 10);
        put16(central, flags);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0x5A21);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, static_cast<std::uint16_t>(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0x20);
        put32(central, offset);
        central.append(e.name);
    }
    const auto central_offset = static_cast<std::uint32_t>(archive.size());
    archive.append(central);
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<std::uint16_t>(entries.size()));
    put16(archive, static_cast<std::uint16_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(central.size()));
    put32(archive, central_offset);
    put16(archive, 0);
    return archive;
}

QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> result;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = root.relativeFilePath(path);
        if (info.isDir() && !info.isSymLink()) {
            result.insert(rel + QLatin1Char('/'), QByteArray());
        } else if (info.isSymLink()) {
            result.insert(rel, "-> " + QFile::encodeName(info.symLinkTarget()));
        } else {
            QFile f(path);
            result.insert(rel, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
    }
    return result;
}

ProcessResult run_tool(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted(10000)) {
        result.output = "cannot start " + program.toUtf8();
        return result;
    }
    process.closeWriteChannel();
    process.waitForFinished(120000);
    result.output = process.readAll();
    result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

ProcessResult run_shell(const QString &script, const QStringList &arguments, const QString &folder)
{
    return run_tool(QStringLiteral("/bin/sh"),
                    QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments, folder);
}

std::uint16_t le16(const QByteArray &bytes, qsizetype offset)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                      (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

std::uint32_t le32(const QByteArray &bytes, qsizetype offset)
{
    return le16(bytes, offset) | (static_cast<std::uint32_t>(le16(bytes, offset + 2)) << 16);
}

void set_le32(QByteArray &bytes, qsizetype offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace yunshan::test
