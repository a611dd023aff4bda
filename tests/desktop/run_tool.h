#pragma once
// Runs a program to its end and keeps what it printed.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <functional>

namespace yunshan::test {

struct ToolRun {
    bool finished = false; // started and ended by itself (no crash, no signal)
    int exit_code = -1;
    QString out;
    QString err;
};

// `child_setup` runs in the child process before the program starts (umask and the like).
inline ToolRun run_tool(const QString &program, const QStringList &args,
                        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                        const std::function<void()> &child_setup = {})
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (child_setup)
        p.setChildProcessModifier(child_setup);
    p.start(program, args);
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.finished = p.exitStatus() == QProcess::NormalExit;
    r.exit_code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace yunshan::test
