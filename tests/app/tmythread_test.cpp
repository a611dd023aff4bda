#include "app/tmythread.h"
#include "platform/paths.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPointer>
#include <QTest>

#include <stdexcept>

using namespace yunshan;

namespace {
struct WorkerRun {
    QStringList steps;
    bool main_thread_ok = true;
};

bool wait_finished(QPointer<TMyThread> &t)
{
    return QTest::qWaitFor([&] { return t.isNull(); }, 5000); // deletes itself when done
}
} // namespace

TEST(TMyThread, StartupRunShowsStartPageThenDeferredStepOnMainThread)
{
    test::TempFolder dir;
    const QString exe = dir.file(QStringLiteral("yunshan-note"));
    test::TempFolder::write(exe + QStringLiteral("2"), "old program");
    set_program_file_override(exe);

    QObject context;
    WorkerRun r;
    auto on_main = [&](const char *name) {
        return [&, name] {
            r.main_thread_ok &= QThread::currentThread() == context.thread();
            r.steps << QString::fromLatin1(name);
        };
    };
    QPointer<TMyThread> t = new TMyThread(&context, UpdateCheckRun::StartUp,
                                          {on_main("start"),
                                           [&] {
                                               r.steps << QStringLiteral("check");
                                               return true;
                                           },
                                           on_main("deferred"), nullptr, nullptr},
                                          0);
    t->start();
    ASSERT_TRUE(wait_finished(t));
    set_program_file_override({});
    EXPECT_EQ(r.steps, (QStringList{QStringLiteral("start"), QStringLiteral("check"), QStringLiteral("deferred")}));
    EXPECT_TRUE(r.main_thread_ok);
    EXPECT_FALSE(QFile::exists(exe + QStringLiteral("2")));
}

// The check's outcome is the answer step's business: the deferred step (autosave recovery)
// follows it however the request went.
TEST(TMyThread, AnswerStepThenDeferredStepWhateverTheCheckBrought)
{
    QObject context;
    QStringList steps;
    TMyThread::Hooks hooks{[&] { steps << QStringLiteral("start"); }, [] { return false; },
                           [&] { steps << QStringLiteral("deferred"); }, nullptr,
                           [&] { steps << QStringLiteral("answer"); }};
    QPointer<TMyThread> t = new TMyThread(&context, UpdateCheckRun::StartUp, hooks, 0);
    t->start();
    ASSERT_TRUE(wait_finished(t));
    EXPECT_EQ(steps, (QStringList{QStringLiteral("start"), QStringLiteral("answer"), QStringLiteral("deferred")}));
}

// An error in the answer step (a failed download) still leaves the deferred step to run.
TEST(TMyThread, ErrorInTheAnswerStepStillRunsTheDeferredStep)
{
    QObject context;
    QStringList steps;
    TMyThread::Hooks hooks{nullptr, nullptr, [&] { steps << QStringLiteral("deferred"); }, nullptr,
                           [] { throw std::runtime_error("download failed"); }};
    QPointer<TMyThread> t = new TMyThread(&context, UpdateCheckRun::StartUp, hooks, 0);
    t->start();
    ASSERT_TRUE(wait_finished(t));
    EXPECT_EQ(steps, QStringList{QStringLiteral("deferred")});
}

TEST(TMyThread, ManualCheckSkipsStartPageAndDeferredStepAndResetsTag)
{
    QObject context;
    UpdateCheckRun tag = UpdateCheckRun::Manual;
    QStringList steps;
    QPointer<TMyThread> t =
        new TMyThread(&context, tag,
                      {[&] { steps << QStringLiteral("start"); },
                       [&] {
                           steps << QStringLiteral("check");
                           return true;
                       },
                       [&] { steps << QStringLiteral("deferred"); }, [&] { tag = UpdateCheckRun::StartUp; }, nullptr},
                      0);
    t->start();
    ASSERT_TRUE(wait_finished(t));
    EXPECT_EQ(steps, QStringList{QStringLiteral("check")});
    EXPECT_EQ(tag, UpdateCheckRun::StartUp);
}

TEST(TMyThread, ErrorInAHandedProcedureEndsTheWorker)
{
    QObject context;
    QStringList steps;
    QPointer<TMyThread> t = new TMyThread(&context, UpdateCheckRun::StartUp,
                                          {[&] { throw std::runtime_error("boom"); },
                                           [&] {
                                               steps << QStringLiteral("check");
                                               return true;
                                           },
                                           [&] { steps << QStringLiteral("deferred"); }, nullptr, nullptr},
                                          0);
    t->start();
    ASSERT_TRUE(wait_finished(t));
    EXPECT_TRUE(steps.isEmpty());
}

TEST(TMyThread, ContextGoneWhileWaitingEndsTheWorker)
{
    auto *context = new QObject;
    bool ran = false;
    QPointer<TMyThread> t =
        new TMyThread(context, UpdateCheckRun::StartUp, {[&] { ran = true; }, nullptr, nullptr, nullptr, nullptr}, 0);
    delete context; // before the queued procedure could run
    t->start();
    ASSERT_TRUE(wait_finished(t));
    EXPECT_FALSE(ran);
}

TEST(TMyThread, ProcedureStillQueuedWhenTheWorkerStopsWaitingNeverRuns)
{
    QObject context;
    bool ran = false;
    QPointer<TMyThread> t =
        new TMyThread(&context, UpdateCheckRun::StartUp, {[&] { ran = true; }, nullptr, nullptr, nullptr, nullptr}, 0);
    t->start();
    // The procedure is queued, but the main thread does not get to it before the abort.
    QThread::msleep(20);
    t->abort();
    t->wait();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    ASSERT_TRUE(wait_finished(t));
}
