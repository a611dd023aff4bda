// The transfer runner on a small window of its own: what it holds while a worker runs, what it
// gives back afterwards (also when the work fails), and a second transfer refused meanwhile.
#include "app/ui/progress_panel.h"
#include "app/ui/transfer_runner.h"
#include "backup/webdav.h"
#include "settings/run_settings.h"
#include "store/note_store.h"
#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QVBoxLayout>

#include <stdexcept>

namespace yunshan {
namespace {

struct SmallWindow {
    QMainWindow window;
    QToolBar *tool_bar = new QToolBar(&window);
    QWidget *central = new QWidget;
    QListWidget *list = new QListWidget(central);
    QLineEdit *off_on_its_own = new QLineEdit(central);
    ProgressPanel *panel = new ProgressPanel(central);
    test::ScriptedDialogs dialogs;
    NoteStore store{QStringLiteral("yunshan_note_transfer_runner_test")};
    RunSettings run;
    TransferRunner runner{window, tool_bar, *panel, dialogs, store, run};

    SmallWindow()
    {
        window.menuBar()->addMenu(QStringLiteral("文件"));
        window.addToolBar(tool_bar);
        window.setCentralWidget(central);
        off_on_its_own->setEnabled(false);
    }
    // Whether the user could reach each part: menu bar, tool bar, list, progress panel.
    std::vector<bool> open_to_input() const
    {
        return {window.menuBar()->isEnabled(), tool_bar->isEnabled(), list->isEnabled(), panel->isEnabled()};
    }
};

TEST(TransferRunnerTest, HoldsTheWindowWhileAWorkerRunsAndGivesItBackAfterwards)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "work that throws" : "work that ends");
        SmallWindow w;
        QSignalSpy changes(&w.runner, &TransferRunner::transferRunningChanged);
        int paused = 0;
        int resumed = 0;
        w.runner.pause_writes = [&] {
            ++paused;
            return std::function<void()>([&] { ++resumed; });
        };
        bool running_inside = false;
        std::vector<bool> inside;
        int paused_inside = -1;
        const auto work = [&](const OnMainThread &on_main) {
            on_main([&] {
                running_inside = w.runner.running();
                inside = w.open_to_input();
                paused_inside = paused - resumed;
            });
            if (fails)
                throw std::runtime_error("打包失败");
        };
        if (fails) {
            try {
                w.runner.run_held(work);
                ADD_FAILURE() << "the failure of the work was not thrown";
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "打包失败");
            }
        } else {
            w.runner.run_held(work);
        }

        EXPECT_TRUE(running_inside);
        EXPECT_EQ(inside, (std::vector<bool>{false, false, false, true}));
        EXPECT_EQ(paused_inside, 1);
        EXPECT_FALSE(w.runner.running());
        EXPECT_EQ(w.open_to_input(), (std::vector<bool>{true, true, true, true}));
        EXPECT_FALSE(w.off_on_its_own->isEnabled()); // disabled before the hold, so it stays
        EXPECT_EQ(paused, 1);
        EXPECT_EQ(resumed, 1);
        ASSERT_EQ(changes.size(), 2);
        EXPECT_EQ(changes[0][0].toBool(), true);
        EXPECT_EQ(changes[1][0].toBool(), false);
    }
}

TEST(TransferRunnerTest, ASecondTransferWhileOneRunsIsRefusedAsBusy)
{
    SmallWindow w;
    w.run.dav_url = QStringLiteral("http://127.0.0.1:9/dav/");
    std::vector<HttpError::Kind> refusals;
    bool second_ran = false;
    w.runner.run_held([&](const OnMainThread &on_main) {
        on_main([&] {
            const auto refused = [&](const std::function<void()> &start) {
                try {
                    start();
                } catch (const HttpError &e) {
                    refusals.push_back(e.kind());
                }
            };
            refused([&] { w.runner.run_transfer([&](BackupContext &) { second_ran = true; }); });
            refused([&] { w.runner.test_webdav({w.run.dav_url, QStringLiteral("u"), QStringLiteral("p")}); });
        });
    });
    EXPECT_EQ(refusals, (std::vector<HttpError::Kind>{HttpError::Kind::Busy, HttpError::Kind::Busy}));
    EXPECT_FALSE(second_ran);
    EXPECT_FALSE(w.runner.running());
}

} // namespace
} // namespace yunshan
