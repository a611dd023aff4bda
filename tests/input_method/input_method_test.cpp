// Chinese typed through a real input method arrives in the note and is saved. Each test runs
// its own X server (Xvfb), a private session bus, the input method with its pinyin engine and
// the real program, all with configuration folders of their own. Keys go in through the X
// server as a keyboard's do (xdotool); the input method composes "ceshi", the space takes the
// first candidate, and 测试 must arrive in the title, the tag line, the body and the search
// box, and in the database after Ctrl+S.
//
// Skipped where the X server, xdotool, the input method, its pinyin engine or its Qt plugin is
// missing. Set YUNSHAN_IM_SCREENSHOTS to a folder to keep a screenshot of each composition.
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/schema.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace yunshan {
namespace {

using test::TempFolder;

constexpr int kWaitMs = 30000; // generous: CI shares two cores with other builds

// A helper process that never outlives the test: killed with it if the test dies, ended at
// the end of the test otherwise.
class Child {
  public:
    Child(const QString &program, const QStringList &args, const QProcessEnvironment &env,
          QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel)
    {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(mode);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(program, args);
    }
    ~Child()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    QProcess &process() { return process_; }
    bool running() const { return process_.state() == QProcess::Running; }

    // The next line of standard output, empty when none comes in time.
    QString read_line(int ms = kWaitMs)
    {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(ms))
                return {};
        }
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

  private:
    QProcess process_;
};

struct Run {
    int code = -1;
    QString out;
};

// Runs a short command to its end.
Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.start(program, args);
    if (!p.waitForFinished(kWaitMs)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
}

bool wait_for(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, kWaitMs);
}

QString read_value(const QString &file, const QString &sql)
{
    Connection db;
    db.open(file, false);
    const auto v = db.query_first(sql);
    return v ? v->toString() : QString();
}

// The input methods under test: how to start one and how to tell the program to use it.
struct InputMethod {
    const char *name;
    const char *qt_module;   // QT_IM_MODULE and XMODIFIERS
    QStringList programs;    // needed in PATH
    const char *engine_data; // the pinyin engine's data file under XDG_DATA_DIRS
    const char *qt_plugin;   // the Qt input context plugin
    const char *packages;    // what to install, for the skip message
};

const InputMethod kFcitx5{"fcitx5",
                          "fcitx",
                          {QStringLiteral("fcitx5"), QStringLiteral("fcitx5-remote")},
                          "fcitx5/inputmethod/pinyin.conf",
                          "libfcitx5platforminputcontextplugin.so",
                          "fcitx5 fcitx5-chinese-addons fcitx5-frontend-qt6"};
const InputMethod kIbus{"ibus",
                        "ibus",
                        {QStringLiteral("ibus-daemon"), QStringLiteral("ibus")},
                        "ibus/component/libpinyin.xml",
                        "libibusplatforminputcontextplugin.so",
                        "ibus ibus-libpinyin libqt6gui6"};

class InputMethodTest : public ::testing::Test {
  protected:
    // Empty when everything the test needs is installed; else what is missing.
    static QString missing(const InputMethod &im)
    {
        QStringList absent;
        for (const QString &p :
             QStringList{QStringLiteral("Xvfb"), QStringLiteral("dbus-daemon"), QStringLiteral("xdotool")} +
                 im.programs)
            if (QStandardPaths::findExecutable(p).isEmpty())
                absent << p;
        if (QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString::fromLatin1(im.engine_data)).isEmpty())
            absent << QString::fromLatin1(im.engine_data);
        const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                               QStringLiteral("/platforminputcontexts/") + QString::fromLatin1(im.qt_plugin);
        if (!QFile::exists(plugin))
            absent << plugin;
        if (absent.isEmpty())
            return {};
        return absent.join(QStringLiteral(", ")) + QStringLiteral(" (packages: ") + QString::fromLatin1(im.packages) +
               QStringLiteral(" xvfb xdotool dbus-daemon)");
    }

    // An X server and a session bus of the test's own; every folder a program may write to
    // lies in the temporary folder.
    void start_desktop()
    {
        const QString home = dir_.mkdir(QStringLiteral("home"));
        config_ = dir_.mkdir(QStringLiteral("config"));
        const QString runtime = dir_.mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"WAYLAND_DISPLAY", "XAUTHORITY", "IBUS_ADDRESS", "GTK_IM_MODULE", "QT_IM_MODULES",
                                 "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME"})
            env_.remove(QString::fromLatin1(name));
        env_.insert(QStringLiteral("HOME"), home);
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), config_);
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), dir_.mkdir(QStringLiteral("cache")));
        env_.insert(QStringLiteral("XDG_STATE_HOME"), dir_.mkdir(QStringLiteral("state")));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env_.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env_.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        // Marks every process of this test, also those the input method starts itself.
        env_.insert(QStringLiteral("YUNSHAN_IM_TEST_RUN"), dir_.path());

        // -displayfd: the server takes the first free display and names it when it is ready.
        xvfb_ = std::make_unique<Child>(QStringLiteral("Xvfb"),
                                        QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                    QStringLiteral("-screen"), QStringLiteral("0"),
                                                    QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                                    QStringLiteral("tcp")},
                                        env_);
        const QString display = xvfb_->read_line();
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        env_.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + display);

        // A session bus that starts no services: only what the test starts is on it.
        const QString bus_config = dir_.file(QStringLiteral("session-bus.conf"));
        TempFolder::write(
            bus_config,
            QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                .arg(runtime)
                .toUtf8());
        bus_ = std::make_unique<Child>(QStringLiteral("dbus-daemon"),
                                       QStringList{QStringLiteral("--config-file=") + bus_config,
                                                   QStringLiteral("--nofork"), QStringLiteral("--print-address=1")},
                                       env_);
        const QString address = bus_->read_line();
        ASSERT_FALSE(address.isEmpty()) << "dbus-daemon did not start";
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    }

    // fcitx5 with pinyin as the active input method of every new input context.
    void start_fcitx5()
    {
        QDir().mkpath(config_ + QStringLiteral("/fcitx5"));
        TempFolder::write(config_ + QStringLiteral("/fcitx5/profile"), R"([Groups/0]
Name=Default
Default Layout=us
DefaultIM=pinyin

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=pinyin
Layout=

[GroupOrder]
0=Default
)");
        TempFolder::write(config_ + QStringLiteral("/fcitx5/config"), R"([Behavior]
ActiveByDefault=True
ShareInputState=No
ShowInputMethodInformation=False
)");
        // Only the X11, D-Bus and pinyin parts; nothing that looks for a desktop or the network.
        im_ = std::make_unique<Child>(
            QStringLiteral("fcitx5"),
            QStringList{QStringLiteral("--disable=wayland,waylandim,clipboard,notificationitem,notifications,kimpanel,"
                                       "ibusfrontend,fcitx4frontend,xim,cloudpinyin")},
            env_, QProcess::MergedChannels);
        ASSERT_TRUE(wait_for([&] { return run(QStringLiteral("fcitx5-remote"), {}, env_).code == 0; }))
            << "fcitx5 did not come up on the session bus: " << log_of(*im_);
    }

    // IBus with libpinyin as the global engine. Qt's IBus plugin finds the daemon through the
    // address file the daemon writes under $XDG_CONFIG_HOME/ibus/bus, so both share the folder.
    void start_ibus()
    {
        im_ = std::make_unique<Child>(QStringLiteral("ibus-daemon"),
                                      QStringList{QStringLiteral("--panel=disable"),
                                                  QStringLiteral("--emoji-extension=disable"),
                                                  QStringLiteral("--cache=refresh")},
                                      env_, QProcess::MergedChannels);
        // The engine can be chosen once the daemon has read the engines' components.
        ASSERT_TRUE(wait_for([&] {
            run(QStringLiteral("ibus"), {QStringLiteral("engine"), QStringLiteral("libpinyin")}, env_);
            return run(QStringLiteral("ibus"), {QStringLiteral("engine")}, env_).out == QLatin1String("libpinyin");
        })) << "ibus-daemon did not take the libpinyin engine: "
            << log_of(*im_);
    }

    static std::string log_of(Child &c) { return QString::fromUtf8(c.process().readAll()).toStdString(); }

    // A database with one note (title 标题, tag line 标签, body 正文), mirrored in the backup
    // folder, and the settings that point at both.
    void make_database()
    {
        const QString zhu = dir_.mkdir(QStringLiteral("main"));
        const QString bei = dir_.mkdir(QStringLiteral("backup"));
        QDir().mkpath(config_ + QStringLiteral("/YunShanNote"));
        SettingsStore settings(config_ + QStringLiteral("/YunShanNote/YunShanNote.ini"));
        settings.set_zhu_db(zhu);
        settings.set_bei_db(bei);
        main_file_ = zhu + QStringLiteral("/notedb.sl3");
        {
            Connection db;
            db.open(main_file_);
            create_schema(db);
            for (const char *sql : {"insert into Section(px,classId,caption) values(100,1,'日记')",
                                    "insert into notes(label,content) values('标签','正文')",
                                    "insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,1,'标题')",
                                    "insert into set_table(key1,value1) values('tmp_file1','000')"})
                db.execute(QString::fromUtf8(sql));
        }
        ASSERT_TRUE(QFile::copy(main_file_, bei + QStringLiteral("/notedb.sl3")));
    }

    // The program on the test's display, using the input method.
    void start_program(const InputMethod &im)
    {
        QProcessEnvironment env = env_;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_IM_MODULE"), QString::fromLatin1(im.qt_module));
        env.insert(QStringLiteral("XMODIFIERS"), QStringLiteral("@im=") + QString::fromLatin1(im.qt_module));
        program_ = std::make_unique<Child>(QStringLiteral(YUNSHAN_PROGRAM_DRIVER), QStringList{}, env);
        ASSERT_TRUE(program_->process().waitForStarted(kWaitMs));
        ASSERT_EQ(command(QStringLiteral("ready")), QStringLiteral("ok ready"));
        ASSERT_EQ(command(QStringLiteral("select ListBox3 0")), QStringLiteral("ok select"));
        // The window takes the keyboard focus as a window manager would give it.
        const QString window = command(QStringLiteral("window")).section(QLatin1Char(' '), 1, 1);
        ASSERT_FALSE(window.isEmpty());
        ASSERT_TRUE(wait_for([&] {
            run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), window}, env_);
            return command(QStringLiteral("window")).endsWith(QLatin1String(" 1"));
        })) << "the window never became active";
    }

    // Sends a command to the program and returns its answer line.
    QString command(const QString &line)
    {
        program_->process().write((line + QLatin1Char('\n')).toUtf8());
        const QString reply = program_->read_line();
        return reply.isEmpty() ? QStringLiteral("no answer to ") + line : reply;
    }

    QString text_of(const QString &widget) { return command(QStringLiteral("text ") + widget).mid(3); }

    void key(const QString &keys) { run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}, env_); }

    // Types "ceshi" into the widget through the input method and takes the first candidate.
    void type_ceshi(const InputMethod &im, const QString &widget)
    {
        ASSERT_EQ(command(QStringLiteral("focus ") + widget), QStringLiteral("ok focus"));
        run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("ceshi")}, env_);
        // The composition shows in the widget: the letters ("ce shi") or, with IBus, the
        // candidate; letters in the text itself would mean the input method never saw them.
        QString preedit;
        ASSERT_TRUE(wait_for([&] {
            preedit = command(QStringLiteral("preedit ") + widget).mid(3);
            const QString letters = QString(preedit).remove(QLatin1Char(' ')).remove(QLatin1Char('\''));
            return letters == QLatin1String("ceshi") || preedit == QStringLiteral("测试");
        })) << "no composition in "
            << widget.toStdString() << ": preedit \"" << preedit.toStdString() << "\", text \""
            << text_of(widget).toStdString() << "\"";
        const QString shots = qEnvironmentVariable("YUNSHAN_IM_SCREENSHOTS");
        if (!shots.isEmpty())
            command(QStringLiteral("screenshot %1/%2-%3.png").arg(shots, QString::fromLatin1(im.name), widget));
        key(QStringLiteral("space"));
    }

    // Types 测试 into each field, saves with Ctrl+S and reads the note back from the database.
    void type_into_each_field(const InputMethod &im)
    {
        struct Field {
            const char *widget, *before;
        };
        for (const Field &f :
             {Field{"Edit2", "标题"}, Field{"Edit3", "标签"}, Field{"RichEdit1", "正文"}, Field{"Edit1", ""}}) {
            const QString widget = QString::fromLatin1(f.widget);
            SCOPED_TRACE(f.widget);
            ASSERT_NO_FATAL_FAILURE(type_ceshi(im, widget));
            // 测试 arrives at the cursor, and nothing else changes.
            QString text;
            ASSERT_TRUE(wait_for([&] { return (text = text_of(widget)).contains(QStringLiteral("测试")); }))
                << "text \"" << text.toStdString() << "\"";
            EXPECT_EQ(text.remove(QStringLiteral("测试")), QString::fromUtf8(f.before));
        }
        ASSERT_EQ(command(QStringLiteral("focus RichEdit1")), QStringLiteral("ok focus"));
        key(QStringLiteral("ctrl+s"));
        EXPECT_TRUE(wait_for([&] {
            return command(QStringLiteral("state")) == QStringLiteral("ok 1 0 标题测试|标签测试");
        })) << command(QStringLiteral("state")).toStdString();
        ASSERT_EQ(command(QStringLiteral("close")), QStringLiteral("ok close"));
        EXPECT_TRUE(program_->process().waitForFinished(kWaitMs));

        EXPECT_EQ(read_value(main_file_, QStringLiteral("select caption from title where noteId=1")),
                  QStringLiteral("标题测试"));
        EXPECT_EQ(read_value(main_file_, QStringLiteral("select label from notes where id=1")),
                  QStringLiteral("标签测试"));
        EXPECT_TRUE(read_value(main_file_, QStringLiteral("select content from notes where id=1"))
                        .contains(QStringLiteral("测试")));
    }

    void TearDown() override
    {
        // The program first, then what it talks to.
        program_.reset();
        im_.reset();
        end_leftovers();
        bus_.reset();
        xvfb_.reset();
    }

    // Ends the processes the input method started (its engine, its configuration service),
    // found by this test's mark in their environment, before the temporary folder goes.
    void end_leftovers()
    {
        if (env_.isEmpty())
            return;
        const QByteArray mark = "YUNSHAN_IM_TEST_RUN=" + QFile::encodeName(dir_.path()) + '\0';
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                bool any = false;
                for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                    bool number = false;
                    const int pid = entry.toInt(&number);
                    if (!number || pid == ::getpid())
                        continue;
                    QFile env_file(QStringLiteral("/proc/%1/environ").arg(pid));
                    if (env_file.open(QIODevice::ReadOnly) && env_file.readAll().contains(mark)) {
                        ::kill(pid, SIGKILL);
                        any = true;
                    }
                }
                return !any;
            },
            10000))
            << "processes of the input method still run";
    }

    TempFolder dir_;
    QString config_;
    QString main_file_;
    QProcessEnvironment env_;
    std::unique_ptr<Child> xvfb_, bus_, im_, program_;
};

TEST_F(InputMethodTest, Fcitx5PinyinTypesIntoEveryField)
{
    if (const QString absent = missing(kFcitx5); !absent.isEmpty())
        GTEST_SKIP() << "missing " << absent.toStdString();
    ASSERT_NO_FATAL_FAILURE(start_desktop());
    ASSERT_NO_FATAL_FAILURE(start_fcitx5());
    ASSERT_NO_FATAL_FAILURE(make_database());
    ASSERT_NO_FATAL_FAILURE(start_program(kFcitx5));
    // The program's input context is focused and pinyin is on.
    ASSERT_EQ(command(QStringLiteral("focus Edit2")), QStringLiteral("ok focus"));
    ASSERT_TRUE(wait_for([&] { return run(QStringLiteral("fcitx5-remote"), {}, env_).out == QLatin1String("2"); }))
        << "fcitx5 saw no active input context of the program";
    EXPECT_EQ(run(QStringLiteral("fcitx5-remote"), {QStringLiteral("-n")}, env_).out, QStringLiteral("pinyin"));
    ASSERT_NO_FATAL_FAILURE(type_into_each_field(kFcitx5));
}

TEST_F(InputMethodTest, IbusPinyinTypesIntoEveryField)
{
    if (const QString absent = missing(kIbus); !absent.isEmpty())
        GTEST_SKIP() << "missing " << absent.toStdString();
    ASSERT_NO_FATAL_FAILURE(start_desktop());
    ASSERT_NO_FATAL_FAILURE(start_ibus());
    ASSERT_NO_FATAL_FAILURE(make_database());
    ASSERT_NO_FATAL_FAILURE(start_program(kIbus));
    ASSERT_NO_FATAL_FAILURE(type_into_each_field(kIbus));
}

} // namespace
} // namespace yunshan
