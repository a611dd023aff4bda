#include "app/ui/status_panels.h"

#include <QLabel>
#include <QStatusBar>

namespace yunshan {

namespace {

constexpr int kStatusBarHeight = 19;
constexpr std::array<int, 7> kPanelWidths{82, 82, 82, 82, 82, 200, 50};

} // namespace

StatusPanels::StatusPanels(QStatusBar *bar)
{
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusBarHeight);
    for (size_t i = 0; i < panels_.size(); ++i) {
        auto *p = new QLabel(bar);
        p->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        // The name read out is the panel's text; which panel it is goes in the description.
        p->setAccessibleDescription(QStringLiteral("状态栏%1").arg(i));
        p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p->setTextFormat(Qt::PlainText);
        const bool last = i + 1 == panels_.size();
        if (last)
            p->setMinimumWidth(kPanelWidths[i]); // the last panel runs to the right edge
        else
            p->setFixedWidth(kPanelWidths[i]);
        bar->addWidget(p, last ? 1 : 0);
        panels_[i] = p;
    }
    set(0, QStringLiteral("等待"));
}

void StatusPanels::set(int index, const QString &text)
{
    if (index < 0 || index >= static_cast<int>(panels_.size()))
        return;
    const auto i = static_cast<size_t>(index);
    QLabel *p = panels_[i];
    p->setText(text);
    // A panel of fixed width grows to show its whole text (an update time in a wide regional
    // format) and returns to its width when the text fits again.
    if (i + 1 < panels_.size())
        p->setFixedWidth(qMax(kPanelWidths[i], p->sizeHint().width()));
}

QString StatusPanels::text(int index) const
{
    if (index >= 0 && index < static_cast<int>(panels_.size()))
        return panels_[static_cast<size_t>(index)]->text();
    return {};
}

} // namespace yunshan
