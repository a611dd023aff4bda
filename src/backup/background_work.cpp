#include "backup/background_work.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>

#include <exception>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace yunshan {

void run_on_main(const OnMainThread &on_main, const std::function<void()> &fn)
{
    if (on_main)
        on_main(fn);
    else
        fn();
}

void run_in_background(const std::function<void(const OnMainThread &on_main)> &work)
{
    // Handed-back functions run in the context of an object of this thread.
    QObject home;
    const OnMainThread on_main = [&home](const std::function<void()> &fn) {
        if (QThread::currentThread() == home.thread()) {
            fn();
            return;
        }
        std::exception_ptr error;
        QMetaObject::invokeMethod(
            &home,
            [&] {
                try {
                    fn();
                } catch (...) {
                    error = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (error)
            std::rethrow_exception(error);
    };

    std::exception_ptr failure;
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        // When both want the processor, the window's thread goes first: it only repaints and
        // answers, and a late frame is what the user sees. (The nice value is per thread here.)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
        try {
            work(on_main);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    // Input events included: the caller decides what may be clicked meanwhile.
    if (!worker->isFinished())
        loop.exec();
    worker->wait();
    if (failure)
        std::rethrow_exception(failure);
}

void MainThreadDialogs::message(const QString &text)
{
    run_on_main(on_main_, [&] { target_.message(text); });
}

void MainThreadDialogs::error(const QString &text)
{
    run_on_main(on_main_, [&] { target_.error(text); });
}

void MainThreadDialogs::warning(const QString &title, const QString &text)
{
    run_on_main(on_main_, [&] { target_.warning(title, text); });
}

Dialogs::Answer MainThreadDialogs::warning_yes_no(const QString &title, const QString &text)
{
    return ask([&] { return target_.warning_yes_no(title, text); });
}

Dialogs::Answer MainThreadDialogs::question_yes_no(const QString &text)
{
    return ask([&] { return target_.question_yes_no(text); });
}

Dialogs::Answer MainThreadDialogs::question_yes_no_cancel(const QString &text)
{
    return ask([&] { return target_.question_yes_no_cancel(text); });
}

bool MainThreadDialogs::input(const QString &title, const QString &prompt, QString &value)
{
    return ask([&] { return target_.input(title, prompt, value); });
}

QString MainThreadDialogs::password(const QString &title, const QString &prompt)
{
    return ask([&] { return target_.password(title, prompt); });
}

QString MainThreadDialogs::choose_folder(const QString &title, const QString &start)
{
    return ask([&] { return target_.choose_folder(title, start); });
}

QString MainThreadDialogs::open_file(const QString &title, const QString &filter, const QString &start)
{
    return ask([&] { return target_.open_file(title, filter, start); });
}

QString MainThreadDialogs::save_file(const QString &title, const QString &filter, const QString &start)
{
    return ask([&] { return target_.save_file(title, filter, start); });
}

bool MainThreadDialogs::choose_font(const QString &title, QFont &font, QColor &color)
{
    return ask([&] { return target_.choose_font(title, font, color); });
}

} // namespace yunshan
