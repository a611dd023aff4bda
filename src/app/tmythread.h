#pragma once
// The start-up worker (also the manual update check). It touches windows and databases only
// through procedures it hands to the main thread and waits for; it holds no reference into the
// window, so it may outlive it.
#include "update/update_check.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>

namespace yunshan {

class TMyThread : public QThread {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<void()> start_page;        // main thread
        std::function<void()> update_check;      // this thread: the version request
        std::function<void()> deferred_step;     // main thread
        std::function<void()> manual_check_done; // main thread: N94's tag goes back to StartUp
        std::function<void()> update_answer;     // main thread: what the request brought, shown
    };

    // `context` lives on the main thread (procedures handed to it are dropped once it is gone);
    // `run` is N94's tag when the worker starts. The thread deletes itself when it ends.
    TMyThread(QObject *context, UpdateCheckRun run, Hooks hooks, int start_page_delay_ms = 300);

    // Asks the worker to stop at its next step (the window is going away).
    void abort() { aborted_ = true; }
    // On a worker's thread: whether that worker was asked to stop (a running request ends then).
    static bool stop_requested();

  protected:
    void run() override;

  private:
    // Runs `fn` on the main thread and waits; false when it threw, or the worker was aborted
    // (a procedure still queued then never runs).
    bool run_on_main(const std::function<void()> &fn);

    QPointer<QObject> context_;
    const UpdateCheckRun run_;
    Hooks hooks_;
    int delay_ms_;
    std::atomic<bool> aborted_{false};
};

} // namespace yunshan
