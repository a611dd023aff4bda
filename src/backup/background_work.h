#pragma once
// Long work (packing, transfers, merging) on a worker thread while the calling thread keeps its
// event loop running: the window repaints, its timers tick and ESC is seen. What must happen on
// the calling thread (the store's connections, message boxes) the work hands back through
// `OnMainThread` and waits for.
#include "platform/dialogs.h"

#include <functional>

namespace yunshan {

// Runs a function on the thread that owns the store and the windows and waits for it; what it
// throws is thrown to the caller. An empty one means "this thread already".
using OnMainThread = std::function<void(const std::function<void()> &)>;

// Runs `fn` through `on_main`, or here when it is empty.
void run_on_main(const OnMainThread &on_main, const std::function<void()> &fn);

// Runs `work` on a new thread and lets this thread's events run until it has ended; then
// rethrows what it threw. `work` gets the way back to this thread.
void run_in_background(const std::function<void(const OnMainThread &on_main)> &work);

// Dialogs that may be used from the worker: every box is shown by `target` on the main thread.
class MainThreadDialogs : public Dialogs {
  public:
    MainThreadDialogs(Dialogs &target, OnMainThread on_main) : target_(target), on_main_(std::move(on_main)) {}

    void message(const QString &text) override;
    void error(const QString &text) override;
    void warning(const QString &title, const QString &text) override;
    Answer warning_yes_no(const QString &title, const QString &text) override;
    Answer question_yes_no(const QString &text) override;
    Answer question_yes_no_cancel(const QString &text) override;
    bool input(const QString &title, const QString &prompt, QString &value) override;
    QString password(const QString &title, const QString &prompt) override;
    QString choose_folder(const QString &title, const QString &start) override;
    QString open_file(const QString &title, const QString &filter, const QString &start) override;
    QString save_file(const QString &title, const QString &filter, const QString &start) override;
    bool choose_font(const QString &title, QFont &font, QColor &color) override;

  private:
    template <typename F> auto ask(F &&f)
    {
        decltype(f()) result{};
        run_on_main(on_main_, [&] { result = f(); });
        return result;
    }
    Dialogs &target_;
    OnMainThread on_main_;
};

} // namespace yunshan
