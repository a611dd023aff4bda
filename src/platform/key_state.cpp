#include "platform/key_state.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>

namespace yunshan {
namespace {

class EscTracker : public QObject {
  public:
    using QObject::QObject;
    bool down = false;

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto *k = static_cast<QKeyEvent *>(e);
            if (k->key() == Qt::Key_Escape && !k->isAutoRepeat())
                down = e->type() == QEvent::KeyPress;
            break;
        }
        case QEvent::ApplicationDeactivate:
            down = false; // the release goes to another program
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, e);
    }
};

QPointer<EscTracker> &tracker()
{
    static QPointer<EscTracker> t;
    return t;
}

} // namespace

void track_esc_key()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || tracker())
        return;
    tracker() = new EscTracker(app);
    app->installEventFilter(tracker());
}

bool esc_key_down()
{
    return tracker() && tracker()->down;
}

} // namespace yunshan
