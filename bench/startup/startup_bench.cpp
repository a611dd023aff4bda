// The start of the program to its first paint against a bare Qt window, both started as new
// processes of this file in the same run and timed from the start of the process to the first
// paint of the window. The program is the real one (run_program with the settings, databases,
// fonts and windows it always has), on databases of 100,000 and 215,000 notes (about 600 MB and
// 1.3 GB, made by bench_notes) with a backup folder. Each database is started once before it is
// measured, so the figures are of the second and later starts (the file cache warm, the backup
// copied).
//   bench_startup [--repeat N] [--notes N,N…]
// The children: bench_startup --child-program | --child-bare (they print "painted" at the first
// paint and end at once).
#include "app/ui/program.h"
#include "app/ui/tform2.h"
#include "platform/settings_store.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// Prints "painted" once the first paint of a top-level window has been done, and ends the
// process there: what comes after the first paint is not measured.
class FirstPaint : public QObject {
  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (!seen_ && e->type() == QEvent::Paint && watched->isWidgetType()) {
            seen_ = true;
            // After the whole window has been painted and flushed.
            QTimer::singleShot(0, [] {
                std::fputs("painted\n", stdout);
                std::fflush(stdout);
                ::_exit(0);
            });
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    bool seen_ = false;
};

int child(int argc, char **argv, bool program)
{
    QApplication app(argc, argv);
    FirstPaint first_paint;
    app.installEventFilter(&first_paint);
    if (program)
        return yunshan::run_program(app);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("窗口")));
    window.resize(1000, 700);
    window.show();
    return QApplication::exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Ms from starting `mode` with `home` as its home folder to its first paint.
double start_once(const QString &mode, const QString &home)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    p.start(QCoreApplication::applicationFilePath(), {mode});
    QByteArray out;
    while (!out.contains("painted\n") && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    p.waitForFinished(-1);
    out += p.readAllStandardOutput();
    if (!out.contains("painted\n")) {
        std::printf("%s did not paint: %s\n", qPrintable(mode), out.constData());
        return -1;
    }
    return ms;
}

// A home folder whose settings name `database_folder` as the data folder and `backup_folder`
// as the backup folder.
QString make_home(QTemporaryDir &dir, const QString &name, const QString &database_folder, const QString &backup_folder)
{
    const QString home = dir.filePath(name);
    QDir().mkpath(home + QStringLiteral("/run"));
    QFile::setPermissions(home + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!database_folder.isEmpty()) {
        yunshan::SettingsStore settings(home + QStringLiteral("/.config/YunShanNote/YunShanNote.ini"));
        settings.set_value(QStringLiteral("zhu_db"), database_folder);
        settings.set_value(QStringLiteral("bei_db"), backup_folder);
    }
    return home;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--child-program") == 0)
            return child(argc, argv, true);
        if (qstrcmp(argv[i], "--child-bare") == 0)
            return child(argc, argv, false);
    }
    QCoreApplication app(argc, argv);
    int repeat = 7;
    QList<int> sizes = {100000, 215000};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--repeat"))
            repeat = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--notes")) {
            sizes.clear();
            for (const QString &n : args.at(i + 1).split(QLatin1Char(',')))
                sizes << n.toInt();
        }
    }

    QTemporaryDir dir;
    const QString bare_home = make_home(dir, QStringLiteral("bare"), QString(), QString());
    struct Database {
        int notes;
        QString home;
        double mb;
        std::vector<double> starts;
    };
    std::vector<Database> databases;
    for (const int notes : sizes) {
        // bench_notes makes the database once and keeps it.
        QProcess make;
        make.setProcessChannelMode(QProcess::ForwardedChannels);
        make.start(QStringLiteral(YUNSHAN_BENCH_NOTES),
                   {QStringLiteral("--notes"), QString::number(notes), QStringLiteral("--generate-only")});
        make.waitForFinished(-1);
        const QString folder = QStringLiteral(YUNSHAN_BENCH_CACHE "/notes") +
                               (notes == 100000 ? QString() : QStringLiteral("-") + QString::number(notes));
        const QString backup = folder + QStringLiteral("-backup");
        QDir().mkpath(backup);
        Database d{notes,
                   make_home(dir, QStringLiteral("home-%1").arg(notes), folder, backup),
                   double(QFile(folder + QStringLiteral("/notedb.sl3")).size()) / 1e6,
                   {}};
        // The first start (it may copy the backup); not measured.
        start_once(QStringLiteral("--child-program"), d.home);
        databases.push_back(d);
    }
    start_once(QStringLiteral("--child-bare"), bare_home);

    // In turn, so that every figure sees the same load on the machine.
    std::vector<double> bare;
    for (int r = 0; r < repeat; ++r) {
        bare.push_back(start_once(QStringLiteral("--child-bare"), bare_home));
        for (Database &d : databases)
            d.starts.push_back(start_once(QStringLiteral("--child-program"), d.home));
    }
    const double anchor = median(bare);
    std::printf("%-52s %9.1f ms\n", "bare Qt window, start to first paint", anchor);
    for (const Database &d : databases) {
        const QString what = QStringLiteral("program, %1 notes (%2 MB) and backup").arg(d.notes).arg(d.mb, 0, 'f', 0);
        const double ms = median(d.starts);
        std::printf("%-52s %9.1f ms / %7.1f ms = %5.2f   (goal <= 2)\n", qPrintable(what), ms, anchor, ms / anchor);
    }
    return 0;
}
