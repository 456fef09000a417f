// The thread base: start, termination request, the suspend gate, work on the
// window thread, and the object's lifetime around its thread.
#include "core/thread_base.h"

#include "support/wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// How long a thread that must stay blocked is watched before the test goes
// on. A correct gate never lets it through, so this bound cannot make a test
// flaky; it only limits how long a broken gate takes to show.
constexpr int kStaysBlockedMs = 150;

// Runs a given body as its thread function.
class TestThread : public TThread {
public:
    explicit TestThread(std::function<void(TestThread&)> body,
                        std::shared_ptr<std::atomic<bool>> destroyed = nullptr)
        : body_(std::move(body)), destroyed_(std::move(destroyed)) {}
    ~TestThread() override {
        if (destroyed_)
            destroyed_->store(true);
    }

    std::atomic<int> runs{0};

    using TThread::CheckSuspended;
    using TThread::Synchronize;

protected:
    void Execute() override {
        ++runs;
        body_(*this);
    }

private:
    std::function<void(TestThread&)> body_;
    std::shared_ptr<std::atomic<bool>> destroyed_;
};

bool OnWindowThread() {
    return QThread::currentThread() == qApp->thread();
}

} // namespace

TEST(ThreadBase, CreatedSuspendedStartRunsExecuteOnce) {
    const int before = TThread::LiveCount();
    {
        auto thread = std::make_shared<TestThread>([](TestThread&) {});
        EXPECT_EQ(TThread::LiveCount(), before + 1);
        EXPECT_FALSE(thread->Started());
        EXPECT_FALSE(thread->Finished());
        EXPECT_EQ(thread->runs.load(), 0);

        thread->Start();
        thread->Start(); // a second start changes nothing
        ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
        thread->WaitFor();
        EXPECT_EQ(thread->runs.load(), 1);
    }
    // The last reference may be the thread function's own, dropped just
    // after the thread has shown that it finished.
    EXPECT_TRUE(WaitUntil([&] { return TThread::LiveCount() == before; }));
}

TEST(ThreadBase, DestroyedWithoutStart) {
    const int before = TThread::LiveCount();
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    {
        auto thread = std::make_shared<TestThread>([](TestThread&) {}, destroyed);
        thread->WaitFor(); // not started: returns at once
    }
    EXPECT_TRUE(destroyed->load());
    EXPECT_EQ(TThread::LiveCount(), before);
}

TEST(ThreadBase, TerminateBeforeStartSkipsExecute) {
    const int before = TThread::LiveCount();
    {
        auto thread = std::make_shared<TestThread>([](TestThread&) {});
        thread->Terminate();
        EXPECT_TRUE(thread->Terminated());
        thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
        EXPECT_EQ(thread->runs.load(), 0);
    }
    EXPECT_TRUE(WaitUntil([&] { return TThread::LiveCount() == before; }));
}

TEST(ThreadBase, TerminateIsSeenByTheRunningThread) {
    std::atomic<int> rounds{0};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        while (!self.Terminated())
            ++rounds;
    });
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return rounds.load() > 0; }));
    EXPECT_FALSE(thread->Finished());
    thread->Terminate();
    thread->WaitFor();
    EXPECT_TRUE(thread->Finished());
}

TEST(ThreadBase, SuspendGateCountsSuspensions) {
    std::atomic<int> passed{0};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        self.CheckSuspended();
        ++passed;
        self.CheckSuspended();
        ++passed;
    });
    // Resume at a count of 0 does nothing: it does not bank a later Suspend.
    thread->Resume();
    EXPECT_FALSE(thread->Suspended());
    thread->Suspend();
    thread->Suspend();
    EXPECT_TRUE(thread->Suspended());
    thread->Start();

    EXPECT_FALSE(WaitUntil([&] { return passed.load() > 0; }, kStaysBlockedMs));
    thread->Resume(); // one of two
    EXPECT_TRUE(thread->Suspended());
    EXPECT_FALSE(WaitUntil([&] { return passed.load() > 0; }, kStaysBlockedMs));
    thread->Resume();
    EXPECT_FALSE(thread->Suspended());
    ASSERT_TRUE(WaitUntil([&] { return passed.load() == 2; }));

    thread->WaitFor();
    thread->Resume();
    EXPECT_FALSE(thread->Suspended());
}

TEST(ThreadBase, SuspendWhileRunningStopsAtTheNextSafePoint) {
    std::atomic<bool> atFirst{false};
    std::atomic<bool> goOn{false};
    std::atomic<bool> passed{false};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        atFirst = true;
        while (!goOn.load())
            QThread::yieldCurrentThread();
        self.CheckSuspended();
        passed = true;
    });
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return atFirst.load(); }));
    thread->Suspend();
    goOn = true;
    EXPECT_FALSE(WaitUntil([&] { return passed.load(); }, kStaysBlockedMs));
    EXPECT_FALSE(thread->Finished());
    thread->Resume();
    ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
    EXPECT_TRUE(passed.load());
}

TEST(ThreadBase, SynchronizeRunsOnTheWindowThread) {
    std::atomic<bool> ranOnWindow{false};
    std::atomic<bool> executeOffWindow{false};
    std::atomic<int> order{0};
    std::atomic<int> afterSync{0};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        executeOffWindow = !OnWindowThread();
        self.Synchronize([&] {
            ranOnWindow = OnWindowThread();
            order = 1;
        });
        // The caller waited: the operation is done when Synchronize returns.
        afterSync = order.load();
    });
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
    EXPECT_TRUE(executeOffWindow.load());
    EXPECT_TRUE(ranOnWindow.load());
    EXPECT_EQ(afterSync.load(), 1);
}

TEST(ThreadBase, SynchronizeCarriesAnExceptionBack) {
    std::string caught;
    std::atomic<bool> caughtOffWindow{false};
    std::atomic<bool> goesOn{false};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("log file cannot be written"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
            caughtOffWindow = !OnWindowThread();
        }
        goesOn = true;
    });
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
    EXPECT_EQ(caught, "log file cannot be written");
    EXPECT_TRUE(caughtOffWindow.load());
    EXPECT_TRUE(goesOn.load());
}

TEST(ThreadBase, SuspendDuringSynchronizeHoldsTheThreadAfterIt) {
    // An operation on the window thread suspends the thread that waits for it:
    // the thread stays at the gate when the operation returns.
    std::atomic<bool> afterSync{false};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        self.Synchronize([&self] { self.Suspend(); });
        afterSync = true;
    });
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
    EXPECT_FALSE(WaitUntil([&] { return afterSync.load(); }, kStaysBlockedMs));
    thread->Resume();
    ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
    EXPECT_TRUE(afterSync.load());
}

TEST(ThreadBase, SynchronizeThatNeverRanIsAnError) {
    // The window thread drops the queued operation without running it, as it
    // does when the application shuts down. The waiting thread must not take
    // that for success.
    std::atomic<bool> ran{false};
    std::atomic<bool> returnedNormally{false};
    std::atomic<bool> raised{false};
    auto thread = std::make_shared<TestThread>([&](TestThread& self) {
        try {
            self.Synchronize([&] { ran = true; });
            returnedNormally = true;
        } catch (const std::exception&) {
            raised = true;
        }
    });
    thread->Start();
    // Window events are not processed here, only discarded.
    QElapsedTimer timer;
    timer.start();
    while (!thread->Finished() && timer.elapsed() < 20000) {
        QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);
        QThread::msleep(1);
    }
    ASSERT_TRUE(thread->Finished());
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(returnedNormally.load());
    EXPECT_TRUE(raised.load());
}

TEST(ThreadBase, RunOnWindowThreadFromTheWindowThreadRunsAtOnce) {
    bool ran = false;
    RunOnWindowThread([&] { ran = OnWindowThread(); });
    EXPECT_TRUE(ran);
    EXPECT_THROW(RunOnWindowThread([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST(ThreadBase, ExceptionEscapingExecuteEndsTheThreadQuietly) {
    const int before = TThread::LiveCount();
    {
        auto thread =
            std::make_shared<TestThread>([](TestThread&) { throw std::runtime_error("lost"); });
        auto other = std::make_shared<TestThread>([](TestThread&) { throw 42; });
        thread->Start();
        other->Start();
        ASSERT_TRUE(WaitUntil([&] { return thread->Finished() && other->Finished(); }));
        EXPECT_EQ(thread->runs.load(), 1);
    }
    EXPECT_TRUE(WaitUntil([&] { return TThread::LiveCount() == before; }));
}

TEST(ThreadBase, KeepsItselfAliveWhileRunning) {
    const int before = TThread::LiveCount();
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> running{false};
    std::atomic<bool> release{false};
    std::atomic<bool> syncedAfterDrop{false};
    std::weak_ptr<TestThread> watch;
    {
        auto thread = std::make_shared<TestThread>(
            [&](TestThread& self) {
                running = true;
                while (!release.load())
                    QThread::yieldCurrentThread();
                // Its own fields are still there, and it can still reach the
                // window thread.
                self.Synchronize([&] { syncedAfterDrop = true; });
            },
            destroyed);
        watch = thread;
        thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return running.load(); }));
    } // the last outside reference goes here
    EXPECT_FALSE(destroyed->load());
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(TThread::LiveCount(), before + 1);

    release = true;
    // It releases itself on its own thread when Execute returns.
    ASSERT_TRUE(WaitUntil([&] { return destroyed->load(); }));
    EXPECT_TRUE(syncedAfterDrop.load());
    ASSERT_TRUE(WaitUntil([&] { return TThread::LiveCount() == before; }));
    EXPECT_TRUE(watch.expired());
}

TEST(ThreadBase, ManyShortThreadsReleaseThemselves) {
    // Started and dropped at once, the way a run releases itself; the last
    // reference goes sometimes here, sometimes on the thread.
    const int before = TThread::LiveCount();
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) {
        auto thread = std::make_shared<TestThread>([&](TestThread&) { ++done; });
        thread->Start();
        if (i % 2 == 0)
            thread->Suspend(); // never reaches a gate: no effect on the end
    }
    ASSERT_TRUE(WaitUntil([&] { return TThread::LiveCount() == before; }));
    EXPECT_EQ(done.load(), 200);
}
