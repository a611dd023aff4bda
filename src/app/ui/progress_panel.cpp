#include "app/ui/progress_panel.h"

#include "app/ui/application_setup.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>

namespace yunshan {

ProgressPanel::ProgressPanel(QWidget *parent) : QGroupBox(QStringLiteral("进度 可按 ESC 键退出"), parent)
{
    setObjectName(QStringLiteral("GroupBox9"));
    setAccessibleName(title());
    setAutoFillBackground(true);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    Label8 = new QLabel(this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setAccessibleName(QStringLiteral("进度"));
    QFont big(ui_font_family());
    big.setPixelSize(24);
    big.setBold(true);
    Label8->setFont(big);
    Label8->setStyleSheet(QStringLiteral("color: #ff0000;"));
    Label10 = new QLabel(QStringLiteral("速度"), this);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setAccessibleName(QStringLiteral("速度"));
    Label9 = new QLabel(QStringLiteral("X"), this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setAccessibleName(QStringLiteral("关闭进度面板"));
    Label9->setCursor(Qt::PointingHandCursor);
    Label9->installEventFilter(this);
    grid->addWidget(Label8, 0, 0);
    grid->addWidget(Label9, 0, 1, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(Label10, 1, 0, 1, 2);
    hide();
}

void ProgressPanel::show_line(const QString &text)
{
    show();
    raise();
    set_line(text);
}

void ProgressPanel::set_line(const QString &text)
{
    Label8->setText(text);
}

QString ProgressPanel::line() const
{
    return Label8->text();
}

void ProgressPanel::set_speed_line(const QString &text)
{
    Label10->setText(text);
}

QString ProgressPanel::speed_line() const
{
    return Label10->text();
}

void ProgressPanel::set_reason(const QString &text)
{
    Label10->setWordWrap(true);
    Label10->setText(text);
    Label10->setToolTip(text);
}

void ProgressPanel::repaint_lines()
{
    Label8->repaint();
    Label10->repaint();
}

bool ProgressPanel::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == Label9 && e->type() == QEvent::MouseButtonRelease) {
        Q_EMIT closeRequested();
        return true;
    }
    return QGroupBox::eventFilter(watched, e);
}

} // namespace yunshan
