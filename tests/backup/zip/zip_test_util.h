#pragma once
// Helpers of the ZIP package tests: sample data, hand-made archives, folder snapshots and the
// Info-ZIP command-line tools.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace yunshan::test {

// Deterministic bytes that compress like a notes database: text runs and noise runs.
QByteArray sample_bytes(qsizetype size, std::uint32_t seed);
// Deterministic bytes that do not compress at all (like pictures), and text that compresses well.
QByteArray noise_bytes(qsizetype size, std::uint32_t seed);
QByteArray text_bytes(qsizetype size, std::uint32_t seed);

// One entry of a hand-made archive: stored, not encrypted, with correct CRC and sizes unless the
// caller damages the result afterwards.
struct RawEntry {
    QByteArray name;
    QByteArray data;
    bool utf8_flag = true; // general purpose bit 11
};
QByteArray make_stored_zip(const std::vector<RawEntry> &entries);

// Every file and folder below `folder` (relative path → contents; folders end in "/").
QMap<QString, QByteArray> snapshot(const QString &folder);

struct ProcessResult {
    int exit_code = -1;
    QByteArray output; // stdout and stderr
};
// Runs `program` with `arguments` in `folder` and waits for it.
ProcessResult run_tool(const QString &program, const QStringList &arguments, const QString &folder);
// Runs a /bin/sh script with positional arguments $1, $2, ... (for passwords in code page 936,
// which only reach a program's argv byte for byte through the shell).
ProcessResult run_shell(const QString &script, const QStringList &arguments, const QString &folder);

std::uint16_t le16(const QByteArray &bytes, qsizetype offset);
std::uint32_t le32(const QByteArray &bytes, qsizetype offset);
void set_le32(QByteArray &bytes, qsizetype offset, std::uint32_t value);

} // namespace yunshan::test
