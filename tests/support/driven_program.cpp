#include "support/driven_program.h"

#include "platform/settings_store.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

namespace yunshan::test {

DriverFolders::DriverFolders()
    : zhu(dir.mkdir(QStringLiteral("main"))), bei(dir.mkdir(QStringLiteral("backup"))),
      config(dir.mkdir(QStringLiteral("config"))), state(dir.mkdir(QStringLiteral("state"))),
      runtime(dir.mkdir(QStringLiteral("runtime"))), main_file(zhu + QStringLiteral("/notedb.sl3")),
      backup_file(bei + QStringLiteral("/notedb.sl3")), env(QProcessEnvironment::systemEnvironment())
{
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(config + QStringLiteral("/YunShanNote"));
    SettingsStore settings(config + QStringLiteral("/YunShanNote/YunShanNote.ini"));
    settings.set_zhu_db(zhu);
    settings.set_bei_db(bei);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_STATE_HOME"), state);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.mkdir(QStringLiteral("cache")));
}

DrivenProgram::DrivenProgram(const QString &driver, const QProcessEnvironment &env)
{
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(driver, {});
}

DrivenProgram::~DrivenProgram()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(10000);
    }
}

bool DrivenProgram::started()
{
    return process_.waitForStarted(10000);
}

QString DrivenProgram::command(const QString &line)
{
    send(line);
    const QString answer = answer_within(60000);
    return answer.isEmpty() ? QStringLiteral("no answer to ") + line.left(40) : answer;
}

void DrivenProgram::send(const QString &line)
{
    process_.write((line + QLatin1Char('\n')).toUtf8());
    while (process_.bytesToWrite() > 0 && process_.waitForBytesWritten(60000)) {
    }
}

QString DrivenProgram::answer_within(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || !process_.waitForReadyRead(int(deadline.remainingTime())))
            return QString();
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

QStringList DrivenProgram::kill()
{
    process_.kill(); // SIGKILL
    process_.waitForFinished(10000);
    QStringList lines;
    for (const QByteArray &line : process_.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QString::fromUtf8(line).trimmed();
    return lines;
}

bool DrivenProgram::finished()
{
    return process_.waitForFinished(60000) && process_.exitStatus() == QProcess::NormalExit;
}

} // namespace yunshan::test
