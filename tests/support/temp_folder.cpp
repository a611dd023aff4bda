#include "support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

namespace yunshan::test {

TempFolder::TempFolder()
{
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

QString TempFolder::file(const QString &name) const
{
    return dir_.filePath(name);
}

QString TempFolder::mkdir(const QString &name) const
{
    const QString p = dir_.filePath(name);
    QDir().mkpath(p);
    return p;
}

QByteArray TempFolder::read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

void TempFolder::write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace yunshan::test
