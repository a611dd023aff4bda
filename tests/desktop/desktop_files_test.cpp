// The desktop entry and the AppStream metainfo pass their validators and agree with each other
// and with the program.
#include "app/command_line.h"
#include "desktop/run_tool.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QXmlStreamReader>

namespace yunshan {
namespace {

using test::run_tool;

const QString kId = QString::fromLatin1(kApplicationId);
const QString kDesktopFile = QStringLiteral(YUNSHAN_PACKAGING_DIR "/") + kId + QStringLiteral(".desktop");
const QString kMetainfoFile = QStringLiteral(YUNSHAN_PACKAGING_DIR "/") + kId + QStringLiteral(".metainfo.xml");

// The validator `tool`, or a skipped test when it is not installed.
#define FIND_VALIDATOR(var, tool)                                                                                      \
    const QString var = QStandardPaths::findExecutable(QStringLiteral(tool));                                          \
    if (var.isEmpty())                                                                                                 \
    GTEST_SKIP() << tool " is not installed"

TEST(DesktopFilesTest, DesktopEntryPassesDesktopFileValidate)
{
    FIND_VALIDATOR(validator, "desktop-file-validate");
    const auto r = run_tool(validator, {kDesktopFile});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 0) << r.out.toStdString() << r.err.toStdString();
    // Not even a warning or a hint.
    EXPECT_EQ(r.out + r.err, QString());
}

TEST(DesktopFilesTest, MetainfoPassesAppstreamValidate)
{
    FIND_VALIDATOR(validator, "appstreamcli");
    const auto r = run_tool(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"), kMetainfoFile});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 0) << r.out.toStdString() << r.err.toStdString();
    // No error, warning or info line: at most the pedantic note on the capitals of the id.
    for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(QLatin1String("P: ")) ||
                    line.startsWith(QStringLiteral("✔ Validation was successful")))
            << line.toStdString();
}

// What the metainfo says, read with a plain XML reader.
struct Metainfo {
    QString id, launchable, binary, first_release;
    QStringList names, summaries;
};

Metainfo read_metainfo(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    Metainfo m;
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString lang = xml.attributes().value(QStringLiteral("xml:lang")).toString();
        const auto name = xml.name();
        if (name == QLatin1String("release") && m.first_release.isEmpty())
            m.first_release = xml.attributes().value(QStringLiteral("version")).toString();
        else if (name == QLatin1String("id"))
            m.id = xml.readElementText();
        else if (name == QLatin1String("launchable"))
            m.launchable = xml.readElementText();
        else if (name == QLatin1String("binary"))
            m.binary = xml.readElementText();
        else if (name == QLatin1String("name") && xml.attributes().isEmpty())
            m.names << QStringLiteral("C=") + xml.readElementText();
        else if ((name == QLatin1String("name") || name == QLatin1String("summary")) && !lang.isEmpty()) {
            const QString entry = lang + QLatin1Char('=') + xml.readElementText();
            (name == QLatin1String("name") ? m.names : m.summaries) << entry;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return m;
}

TEST(DesktopFilesTest, EntryMetainfoAndProgramAgree)
{
    const Metainfo m = read_metainfo(kMetainfoFile);
    EXPECT_EQ(m.id, kId);
    EXPECT_EQ(m.launchable, kId + QStringLiteral(".desktop"));
    EXPECT_EQ(m.binary, QStringLiteral("yunshan-note"));
    // The newest release entry is the program's version.
    EXPECT_EQ(m.first_release, QStringLiteral(YUNSHAN_VERSION));
    EXPECT_EQ(m.names, (QStringList{QStringLiteral("C=YunShanNote"), QStringLiteral("zh-CN=云杉札记")}));
    EXPECT_EQ(m.summaries, QStringList{QStringLiteral("zh-CN=分类笔记，本地单文件保存")});

    QSettings entry(kDesktopFile, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("yunshan-note"));
    EXPECT_EQ(entry.value(QStringLiteral("Icon")).toString(), kId);
}

} // namespace
} // namespace yunshan
