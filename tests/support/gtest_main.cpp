// Test entry: a Qt application object (offscreen) with its own temporary configuration, state
// and runtime folders, so no test ever touches the user's settings, autosave files or locks.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#ifdef YUNSHAN_GUI_TEST
#include "app/ui/application_setup.h"
#include <QApplication>
#else
#include <QGuiApplication>
#endif

int main(int argc, char **argv)
{
    QTemporaryDir home;
    const QString config = home.path() + QStringLiteral("/config");
    const QString runtime = home.path() + QStringLiteral("/run");
    const QString state = home.path() + QStringLiteral("/state");
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/cache")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

#ifdef YUNSHAN_GUI_TEST
    QApplication app(argc, argv);
    yunshan::setup_application(app);
#else
    QGuiApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
