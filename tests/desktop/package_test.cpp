// The Debian package made from this build by cpack: its control fields name the program, its
// version and architecture and the packages of the libraries it links; it holds what
// `cmake --install` installs and the package's own documents, owned by root with the usual modes;
// unpacked, the program in it runs.
#include "app/command_line.h"
#include "desktop/run_tool.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMap>
#include <QRegularExpression>

#include <string>

#include <sys/stat.h>

namespace yunshan {
namespace {

using test::run_tool;
using test::TempFolder;

const QString kId = QString::fromLatin1(kApplicationId);

// What `program args` printed on its standard output; a failure when it did not end with 0.
QString output_of(const QString &program, const QStringList &args)
{
    const auto r = run_tool(program, args);
    const std::string command = (program + QLatin1Char(' ') + args.join(QLatin1Char(' '))).toStdString();
    if (!r.finished || r.exit_code != 0) {
        ADD_FAILURE() << command << " failed: " << r.out.toStdString() << r.err.toStdString();
        return {};
    }
    return r.out;
}

// The fields of a control file ("Name: value", continuation lines start with a space).
QMap<QString, QString> control_fields(const QString &text)
{
    QMap<QString, QString> fields;
    QString last;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char(' '))) {
            fields[last] += QLatin1Char('\n') + line;
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        last = line.left(colon);
        fields[last] = line.mid(colon + 1).trimmed();
    }
    return fields;
}

// The package names in a relationship field such as "a (>= 1), b | c".
QStringList package_names(const QString &relations)
{
    QStringList names;
    static const QRegularExpression separator(QStringLiteral("[,|]"));
    for (const QString &alternative : relations.split(separator, Qt::SkipEmptyParts))
        names << alternative.trimmed().section(QLatin1Char(' '), 0, 0);
    return names;
}

std::string lines(const QStringList &list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}

TEST(PackageTest, DebianPackageHoldsTheInstalledProgramAndNamesItsDependencies)
{
    TempFolder dir;
    const QString out = dir.mkdir(QStringLiteral("out"));
    // Packed under a group-writable umask, as many desktops have it: the folders still come out
    // 0755. Left uncompressed: xz takes half a minute over a sanitizer build's program, and the
    // compression is no matter here.
    const auto pack = run_tool(QStringLiteral(YUNSHAN_CPACK),
                               {QStringLiteral("--config"), QStringLiteral(YUNSHAN_BUILD_DIR "/CPackConfig.cmake"),
                                QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-D"),
                                QStringLiteral("CPACK_DEBIAN_COMPRESSION_TYPE=none"), QStringLiteral("-B"), out},
                               QProcessEnvironment::systemEnvironment(), [] { ::umask(002); });
    ASSERT_TRUE(pack.finished);
    ASSERT_EQ(pack.exit_code, 0) << pack.out.toStdString() << pack.err.toStdString();

    const QString arch = output_of(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).trimmed();
    const QString name = QStringLiteral("yunshan-note_" YUNSHAN_VERSION "_") + arch + QStringLiteral(".deb");
    ASSERT_EQ(QDir(out).entryList({QStringLiteral("*.deb")}), QStringList{name});
    const QString deb = out + QLatin1Char('/') + name;

    const auto control = control_fields(output_of(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb}));
    EXPECT_EQ(control.value(QStringLiteral("Package")).toStdString(), "yunshan-note");
    EXPECT_EQ(control.value(QStringLiteral("Version")).toStdString(), YUNSHAN_VERSION);
    EXPECT_EQ(control.value(QStringLiteral("Architecture")), arch) << arch.toStdString();
    EXPECT_TRUE(control.value(QStringLiteral("Description")).contains(QStringLiteral("云杉札记")));
    // The libraries' packages come from dpkg-shlibdeps, the SVG icon engine is named by hand;
    // every one is a package this machine, where the program runs, knows.
    const QStringList depends = package_names(control.value(QStringLiteral("Depends")));
    EXPECT_TRUE(depends.contains(QStringLiteral("libqt6widgets6"))) << lines(depends);
    EXPECT_TRUE(depends.contains(QStringLiteral("libsqlite3-0"))) << lines(depends);
    EXPECT_TRUE(depends.contains(QStringLiteral("libqt6svg6"))) << lines(depends);
    const auto known = run_tool(QStringLiteral("dpkg-query"), QStringList{QStringLiteral("-W")} + depends);
    EXPECT_EQ(known.exit_code, 0) << known.err.toStdString();

    // Exactly these files, owned by root; only the program executable; every folder 0755.
    const QString bin = QStringLiteral("./usr/" YUNSHAN_INSTALL_BINDIR "/yunshan-note");
    const QString share = QStringLiteral("./usr/" YUNSHAN_INSTALL_DATADIR "/");
    QStringList expected = {
        bin,
        share + QStringLiteral("applications/") + kId + QStringLiteral(".desktop"),
        share + QStringLiteral("metainfo/") + kId + QStringLiteral(".metainfo.xml"),
        share + QStringLiteral("icons/hicolor/scalable/apps/") + kId + QStringLiteral(".svg"),
        share + QStringLiteral("icons/hicolor/48x48/apps/") + kId + QStringLiteral(".png"),
        share + QStringLiteral("icons/hicolor/256x256/apps/") + kId + QStringLiteral(".png"),
        share + QStringLiteral("man/man1/yunshan-note.1.gz"),
        share + QStringLiteral("doc/yunshan-note/copyright"),
        share + QStringLiteral("doc/yunshan-note/changelog.gz"),
    };
    QStringList files;
    for (const QString &line : output_of(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // drwxr-xr-x root/root         0 2026-12-10 21:01 ./usr/
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ASSERT_EQ(f.size(), 6) << line.toStdString();
        const QString &path = f[5];
        EXPECT_EQ(f[1].toStdString(), "root/root") << path.toStdString();
        if (path.endsWith(QLatin1Char('/'))) {
            EXPECT_EQ(f[0].toStdString(), "drwxr-xr-x") << path.toStdString();
            continue;
        }
        files << path;
        EXPECT_EQ(f[0].toStdString(), path == bin ? "-rwxr-xr-x" : "-rw-r--r--") << path.toStdString();
    }
    files.sort();
    expected.sort();
    EXPECT_EQ(lines(files), lines(expected));

    // Unpacked, the program starts (here only to print its version) and carries no symbols.
    const QString root = dir.mkdir(QStringLiteral("root"));
    output_of(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root});
    const QString program = root + bin.mid(1);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(variable));
    const auto version = run_tool(program, {QStringLiteral("--version")}, env);
    ASSERT_TRUE(version.finished);
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, QStringLiteral("YunShanNote " YUNSHAN_VERSION "\n"));
    EXPECT_EQ(version.err, QString());
    EXPECT_TRUE(
        output_of(QStringLiteral("file"), {QStringLiteral("-b"), program}).endsWith(QStringLiteral(", stripped\n")));

    // The changelog's latest entry is this version's.
    const QString changelog =
        output_of(QStringLiteral("gzip"),
                  {QStringLiteral("-dc"), root + share.mid(1) + QStringLiteral("doc/yunshan-note/changelog.gz")});
    EXPECT_TRUE(changelog.startsWith(QStringLiteral("yunshan-note (" YUNSHAN_VERSION ") ")))
        << changelog.section(QLatin1Char('\n'), 0, 0).toStdString();
}

} // namespace
} // namespace yunshan
