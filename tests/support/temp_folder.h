#pragma once
// A temporary folder per test with helpers for files in it.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace yunshan::test {

class TempFolder {
  public:
    TempFolder();
    QString path() const { return dir_.path(); }
    // Path of `name` inside the folder (sub-folders are not created).
    QString file(const QString &name) const;
    // Creates the sub-folder `name` and returns its path.
    QString mkdir(const QString &name) const;
    static QByteArray read(const QString &path);
    static void write(const QString &path, const QByteArray &bytes);

  private:
    QTemporaryDir dir_;
};

} // namespace yunshan::test
