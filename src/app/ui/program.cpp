#include "app/ui/program.h"

#include "app/ui/application_setup.h"
#include "app/ui/tform1.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "platform/settings_store.h"
#include "platform/ui/qt_dialogs.h"
#include "update/update_check.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

namespace yunshan {

namespace {

int g_termination_pipe[2] = {-1, -1};

extern "C" void on_termination_signal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_termination_pipe[1], &byte, 1);
}

// SIGTERM (the session ending, `kill`) reaches the event loop through a pipe and runs
// `request` there. Outside this object's life the signal keeps its default action.
class TerminationRequests {
  public:
    explicit TerminationRequests(std::function<void()> request) : request_(std::move(request))
    {
        if (::pipe2(g_termination_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = new QSocketNotifier(g_termination_pipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
            char buffer[16];
            while (::read(g_termination_pipe[0], buffer, sizeof buffer) > 0) {
            }
            request_();
        });
        struct sigaction action = {};
        action.sa_handler = on_termination_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
    }
    ~TerminationRequests()
    {
        std::signal(SIGTERM, SIG_DFL);
        delete notifier_;
        for (int &fd : g_termination_pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    TerminationRequests(const TerminationRequests &) = delete;
    TerminationRequests &operator=(const TerminationRequests &) = delete;

    // Ends the process as the signal's default action does.
    static void terminate_now()
    {
        std::signal(SIGTERM, SIG_DFL);
        std::raise(SIGTERM);
    }

  private:
    std::function<void()> request_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace

int run_program(QApplication &app)
{
    setup_application(app);
    QtDialogs dialogs;
    SettingsStore settings;

    TForm2 form2(dialogs);
    dialogs.set_parent(&form2);
    // A termination request closes the main window as its close button does (an unsaved note is
    // asked about, the exit backup runs). Before the window is up, or while a dialog waits for an
    // answer, it ends the program at once as before.
    TerminationRequests termination([&form2] {
        if (form2.isVisible() && !QApplication::activeModalWidget())
            form2.close();
        else
            TerminationRequests::terminate_now();
    });
    TForm1 form1(form2, settings, &form2);
    form2.FormCreate(settings);
    form2.updates().server = update_server_address(settings);
    if (form2.login_refused())
        return 0;
    form2.show();
    form2.start_worker();
    return QApplication::exec();
}

} // namespace yunshan
