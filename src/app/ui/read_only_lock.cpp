#include "app/ui/read_only_lock.h"

#include <QEvent>
#include <QWidget>

namespace yunshan {

namespace {

constexpr char kLocked[] = "yunshan_read_only_locked";
constexpr char kNoInput[] = "yunshan_read_only_no_input";

} // namespace

void ReadOnlyLock::lock(const QList<QWidget *> &controls)
{
    for (QWidget *w : controls) {
        w->setEnabled(false);
        w->setProperty(kLocked, true);
        w->installEventFilter(this);
    }
}

void ReadOnlyLock::refuse_input(const QList<QObject *> &fields)
{
    for (QObject *o : fields) {
        o->setProperty(kNoInput, true);
        o->installEventFilter(this);
    }
}

bool ReadOnlyLock::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && watched->property(kLocked).toBool()) {
        auto *w = static_cast<QWidget *>(watched);
        if (!w->testAttribute(Qt::WA_Disabled))
            w->setEnabled(false);
        return false;
    }
    return e->type() == QEvent::InputMethod && watched->property(kNoInput).toBool();
}

} // namespace yunshan
