#include "platform/key_state.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>

#include <atomic>

namespace yunshan {
namespace {

// Read by transfers on worker threads too.
std::atomic<bool> g_esc_down{false};

class EscTracker : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto *k = static_cast<QKeyEvent *>(e);
            if (k->key() == Qt::Key_Escape && !k->isAutoRepeat())
                g_esc_down = e->type() == QEvent::KeyPress;
            break;
        }
        case QEvent::ApplicationDeactivate:
            g_esc_down = false; // the release goes to another program
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
    return g_esc_down.load();
}

} // namespace yunshan
