#include "app/tmythread.h"

#include "platform/paths.h"

#include <QFile>
#include <QMetaObject>
#include <QSemaphore>

#include <memory>

namespace yunshan {

TMyThread::TMyThread(QObject *context, UpdateCheckRun run, Hooks hooks, int start_page_delay_ms)
    : context_(context), run_(run), hooks_(std::move(hooks)), delay_ms_(start_page_delay_ms)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

bool TMyThread::run_on_main(const std::function<void()> &fn)
{
    if (!fn)
        return true;
    struct Handoff {
        QSemaphore done;
        bool ok = false;
        std::atomic<bool> cancelled{false}; // the worker stopped waiting: do not run
    };
    auto handoff = std::make_shared<Handoff>();
    QObject *context = context_.data();
    if (!context || aborted_)
        return false;
    QMetaObject::invokeMethod(
        context,
        [handoff, fn] {
            if (handoff->cancelled)
                return;
            try {
                fn();
                handoff->ok = true;
            } catch (...) {
                handoff->ok = false; // the worker ends without a message
            }
            handoff->done.release();
        },
        Qt::QueuedConnection);
    // Wait for the main thread, but give up when the window goes away meanwhile.
    while (!handoff->done.tryAcquire(1, 50)) {
        if (aborted_ || context_.isNull()) {
            handoff->cancelled = true;
            // Had it started meanwhile, it still runs to its end on the main thread; it holds
            // copies only, nothing of this worker.
            return false;
        }
    }
    return handoff->ok && !aborted_;
}

bool TMyThread::stop_requested()
{
    const auto *worker = qobject_cast<const TMyThread *>(QThread::currentThread());
    return worker && worker->aborted_;
}

void TMyThread::run()
{
    // A program file left over by a self-update.
    const QString leftover = program_file() + QStringLiteral("2");
    if (QFile::exists(leftover))
        QFile::remove(leftover);

    if (run_ == UpdateCheckRun::StartUp) {
        for (int waited = 0; waited < delay_ms_ && !aborted_; waited += 10)
            msleep(10);
        if (!run_on_main(hooks_.start_page))
            return;
    }
    if (aborted_)
        return;
    // The request's outcome, failures included, is the answer step's to show. A failed check
    // does not hold back the deferred step: without network the autosave recovery still runs.
    if (hooks_.update_check)
        hooks_.update_check();
    if (aborted_)
        return;
    run_on_main(hooks_.update_answer);
    if (run_ == UpdateCheckRun::Manual) {
        run_on_main(hooks_.manual_check_done);
        return;
    }
    run_on_main(hooks_.deferred_step);
}

} // namespace yunshan
