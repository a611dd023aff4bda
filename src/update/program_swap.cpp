#include "update/program_swap.h"

#include "backup/zip_package.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace yunshan {

namespace {

QString new_program_path(const QString &program_path)
{
    return program_path + QStringLiteral("2X");
}

} // namespace

bool program_folder_writable(const QString &program_path)
{
    const QString folder = QFileInfo(program_path).absolutePath();
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QByteArray program_from_package(const QByteArray &package)
{
    QByteArray program = read_first_entry(package, QString(), kMaxProgramSize);
    if (program.isEmpty())
        throw UpdateError(QStringLiteral("更新文件中没有程序。"));
    return program;
}

QString write_new_program(const QString &program_path, const QByteArray &program)
{
    const QString target = new_program_path(program_path);
    QFile::remove(target);
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw UpdateError(QStringLiteral("无法写入新程序文件 %1：%2").arg(target, out.errorString()));
    const bool written = out.write(program) == program.size() && out.flush();
    const bool synced = written && ::fsync(out.handle()) == 0;
    const QString why = out.errorString();
    out.close();
    if (!written || !synced) {
        QFile::remove(target);
        throw UpdateError(QStringLiteral("无法写入新程序文件 %1：%2").arg(target, why));
    }
    QFile::setPermissions(target, QFile::permissions(program_path));
    // What lies on the disk is what the package held.
    QFile back(target);
    if (!back.open(QIODevice::ReadOnly) || back.readAll() != program) {
        back.close();
        QFile::remove(target);
        throw UpdateError(QStringLiteral("新程序文件 %1 写入后校验不符。").arg(target));
    }
    return target;
}

QString swap_program_file(const QString &program_path)
{
    const QString incoming = new_program_path(program_path);
    QString old_place;
    for (int suffix = 2; suffix <= kLastOldProgramSuffix; ++suffix) {
        const QString candidate = program_path + QString::number(suffix);
        if (QFile::rename(program_path, candidate)) { // never over an existing file
            old_place = candidate;
            break;
        }
    }
    if (old_place.isEmpty()) {
        QFile::remove(incoming);
        throw UpdateError(QStringLiteral("无法移开原程序文件 %1，更新没有完成，原程序保持不变。").arg(program_path));
    }
    if (!QFile::rename(incoming, program_path)) {
        const bool restored = QFile::rename(old_place, program_path);
        QFile::remove(incoming);
        if (!restored)
            throw UpdateError(
                QStringLiteral("无法放入新程序文件，原程序已改名为 %1，请把它改回 %2。").arg(old_place, program_path));
        throw UpdateError(QStringLiteral("无法放入新程序文件 %1，更新没有完成，原程序保持不变。").arg(program_path));
    }
    return old_place;
}

} // namespace yunshan
