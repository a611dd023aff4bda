// --version and --help print their text and end the program: no window, no display needed.
#include "desktop/run_tool.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

using test::run_tool;

const QString kHelp = QStringLiteral("Usage: yunshan-note [options]\n"
                                     "云杉札记：分类笔记，本地单文件保存。\n"
                                     "YunShanNote: notes in categories, kept in one local database.\n"
                                     "\n"
                                     "Options:\n"
                                     "  -h, --help     Displays help on commandline options.\n"
                                     "  --help-all     Displays help including Qt specific options.\n"
                                     "  -v, --version  Displays version information.\n");
const QString kVersion = QStringLiteral("YunShanNote " YUNSHAN_VERSION "\n");

TEST(CommandLineTest, HelpAndVersionPrintAndEndWithoutADisplay)
{
    // No display of any kind and no platform chosen: a window could not even be made.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    const struct {
        QStringList args;
        QString out;
    } cases[] = {
        {{QStringLiteral("--version")}, kVersion},
        {{QStringLiteral("-v")}, kVersion},
        {{QStringLiteral("--help")}, kHelp},
        {{QStringLiteral("-h")}, kHelp},
        {{QStringLiteral("--help-all")}, kHelp},
        // The toolkit's own options around them are no row of short options.
        {{QStringLiteral("-reverse"), QStringLiteral("--version")}, kVersion},
        {{QStringLiteral("-stylesheet"), QStringLiteral("x.qss"), QStringLiteral("-v")}, kVersion},
    };
    for (const auto &c : cases) {
        const auto r = run_tool(QStringLiteral(YUNSHAN_PROGRAM), c.args, env);
        const std::string label = c.args.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(r.finished) << label;
        EXPECT_EQ(r.exit_code, 0) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, QString()) << label;
    }
}

} // namespace
} // namespace yunshan
