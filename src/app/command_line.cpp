#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>

namespace yunshan {

namespace {

// -h and -v as the usual short forms; a single dash before a word names one long option, so
// the toolkit's own options (-reverse, -stylesheet) are never read as a row of short ones.
struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("云杉札记：分类笔记，本地单文件保存。\n"
                           "YunShanNote: notes in categories, kept in one local database."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    }
};

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

void set_application_identity()
{
    QCoreApplication::setApplicationName(QStringLiteral("YunShanNote"));
    QCoreApplication::setOrganizationName(QStringLiteral("YunShanNote"));
    QCoreApplication::setApplicationVersion(QStringLiteral(YUNSHAN_VERSION));
    // On Wayland the window is matched to its desktop entry (and icon) by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
}

QString version_text()
{
    return QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion() +
           QLatin1Char('\n');
}

QString help_text(const QString &program)
{
    Parser p;
    QString text = p.parser.helpText();
    // The parser names the program by its first argument as given; show the name only.
    const QString first = QCoreApplication::arguments().value(0);
    if (!first.isEmpty() && first != program)
        text.replace(QStringLiteral("Usage: ") + first, QStringLiteral("Usage: ") + program);
    return text;
}

std::optional<int> answer_command_line(int argc, char **argv)
{
    bool wanted = false;
    for (int i = 1; i < argc && !wanted; ++i)
        wanted = argv[i][0] == '-';
    if (!wanted)
        return std::nullopt;

    // A plain core application reads the arguments; the GUI application comes later.
    int count = argc;
    QCoreApplication app(count, argv);
    set_application_identity();
    Parser p;
    p.parser.parse(QCoreApplication::arguments()); // unknown options are the toolkit's or ignored
    if (p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all"))) {
        print(help_text(QString::fromLocal8Bit(argv[0]).section(QLatin1Char('/'), -1)));
        return 0;
    }
    if (p.parser.isSet(p.version)) {
        print(version_text());
        return 0;
    }
    return std::nullopt;
}

} // namespace yunshan
