#include "app/ui/application_setup.h"

#include "app/command_line.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace yunshan {

QString ui_font_family()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char *name : {"宋体", "SimSun", "NSimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC",
                                 "Noto Serif CJK SC", "WenQuanYi Zen Hei", "AR PL UMing CN"}) {
            const QString n = QString::fromUtf8(name);
            if (installed.contains(n, Qt::CaseInsensitive))
                return n;
        }
        return QStringLiteral("宋体");
    }();
    return family;
}

void setup_application(QApplication &app)
{
    // No display name: Qt would append it to every window title ("云杉札记1.5.4 — …").
    set_application_identity();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/yunshan-note.svg")));

    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));

    QFont font(ui_font_family());
    font.setPixelSize(13);
    QApplication::setFont(font);
}

} // namespace yunshan
