#include "core/thread_base.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <cassert>
#include <cstdio>
#include <exception>
#include <mutex>
#include <stdexcept>

void ReportEscaped(const char* where, std::exception_ptr error) {
    std::string what = "an unknown error";
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    std::fprintf(stderr, "directory-scraper: %s ended on an error: %s\n", where, what.c_str());
    std::fflush(stderr);
}

TThread::~TThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach(); // the thread released its own last reference
        else
            thread_.join();
    }
}

void TThread::Start() {
    if (started_.exchange(true))
        return;
    std::shared_ptr<TThread> self = shared_from_this();
    thread_ = std::thread([self]() mutable {
        self->runningOn_.store(std::this_thread::get_id());
        {
            try {
                if (self->Terminated())
                    self->TerminatedBeforeStart();
                else
                    self->Execute();
            } catch (...) {
                // An error that escapes the thread function ends the thread,
                // leaving a trace for whoever reads standard error.
                ReportEscaped("a thread", std::current_exception());
            }
        }
        {
            std::lock_guard lock(self->finishMutex_);
            self->finished_.store(true);
        }
        self->finishedChanged_.notify_all();
        self.reset(); // may destroy the object, here on its own thread
    });
}

void TThread::Terminate() {
    {
        std::lock_guard lock(terminateMutex_);
        terminated_.store(true);
    }
    terminateRequested_.notify_all();
}

bool TThread::WaitUnlessTerminated(std::chrono::milliseconds duration) {
    std::unique_lock lock(terminateMutex_);
    return !terminateRequested_.wait_for(lock, duration, [this] { return terminated_.load(); });
}

void TThread::Suspend() {
    std::lock_guard lock(gateMutex_);
    ++suspendCount_;
}

void TThread::Resume() {
    {
        std::lock_guard lock(gateMutex_);
        if (suspendCount_ == 0)
            return;
        --suspendCount_;
    }
    gateChanged_.notify_all();
}

bool TThread::Suspended() const {
    std::lock_guard lock(gateMutex_);
    return suspendCount_ > 0;
}

void TThread::WaitFor() {
    assert(runningOn_.load() != std::this_thread::get_id());
    if (!started_.load())
        return;
    std::unique_lock lock(finishMutex_);
    finishedChanged_.wait(lock, [this] { return finished_.load(); });
}

void TThread::CheckSuspended() {
    std::unique_lock lock(gateMutex_);
    gateChanged_.wait(lock, [this] { return suspendCount_ == 0; });
}

void TThread::Synchronize(const std::function<void()>& fn) {
    RunOnWindowThread(fn);
    // Only the thread itself stops at its gate; the window thread running a
    // notification for it directly must not.
    if (std::this_thread::get_id() == runningOn_.load())
        CheckSuspended();
}

// Qt's event queue synchronises through primitives that thread checkers do
// not see; under ThreadSanitizer the hand-off tells it about them.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define HANDOFF_RELEASE(address) __tsan_release(address)
#define HANDOFF_ACQUIRE(address) __tsan_acquire(address)
#else
#define HANDOFF_RELEASE(address) static_cast<void>(address)
#define HANDOFF_ACQUIRE(address) static_cast<void>(address)
#endif

namespace {

// The address those annotations synchronise on: one of its own, since an
// address shared with a real mutex confuses the checker's view of that mutex.
char handOffSync;

// One blocking hand-off to the window thread. Everything goes through this
// mutex: the caller's writes before the call are published to the window
// thread, and the operation's effects and outcome are published back, in a
// way that thread checkers can see (Qt's own blocking call is invisible to
// them).
struct HandOff {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false; // the queued call ran or was discarded
    bool ran = false;
    std::exception_ptr error;
};

// Marks the hand-off done when the queued call is destroyed, whether it ran
// or was discarded unrun (the application shutting down).
struct DoneOnDestruction {
    explicit DoneOnDestruction(std::shared_ptr<HandOff> h) : handOff(std::move(h)) {}
    DoneOnDestruction(const DoneOnDestruction&) = delete;
    DoneOnDestruction& operator=(const DoneOnDestruction&) = delete;
    std::shared_ptr<HandOff> handOff;
    ~DoneOnDestruction() {
        {
            std::lock_guard lock(handOff->mutex);
            handOff->done = true;
        }
        handOff->changed.notify_all();
    }
};

// The queued call. Qt copies it into an object of its own on the calling
// thread and runs and destroys that copy on the window thread. Each copy
// publishes itself once written, and the window thread takes that in before
// it reads one: the checker then sees the copy's fields handed over.
class QueuedCall {
public:
    QueuedCall(std::shared_ptr<HandOff> handOff, std::shared_ptr<DoneOnDestruction> marker,
               const std::function<void()>* fn)
        : handOff_(std::move(handOff)), marker_(std::move(marker)), fn_(fn) {
        HANDOFF_RELEASE(&handOffSync);
    }
    QueuedCall(const QueuedCall& other)
        : handOff_(other.handOff_), marker_(other.marker_), fn_(other.fn_) {
        HANDOFF_RELEASE(&handOffSync);
    }
    QueuedCall(QueuedCall&& other) noexcept
        : handOff_(std::move(other.handOff_)), marker_(std::move(other.marker_)), fn_(other.fn_) {
        HANDOFF_RELEASE(&handOffSync);
    }
    QueuedCall& operator=(const QueuedCall&) = delete;
    QueuedCall& operator=(QueuedCall&&) = delete;
    ~QueuedCall() { HANDOFF_ACQUIRE(&handOffSync); }

    void operator()() {
        HANDOFF_ACQUIRE(&handOffSync);
        { std::lock_guard lock(handOff_->mutex); } // the caller's writes before the call
        std::exception_ptr caught;
        try {
            (*fn_)();
        } catch (...) {
            caught = std::current_exception();
        }
        {
            std::lock_guard lock(handOff_->mutex);
            handOff_->error = std::move(caught);
            handOff_->ran = true;
        }
        marker_.reset(); // done, unless another copy of the call still exists
    }

private:
    std::shared_ptr<HandOff> handOff_;
    std::shared_ptr<DoneOnDestruction> marker_;
    const std::function<void()>* fn_;
};

} // namespace

void RunOnWindowThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        throw std::logic_error("no application object to run window work on");
    if (QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    auto handOff = std::make_shared<HandOff>();
    auto marker = std::make_shared<DoneOnDestruction>(handOff);
    QMetaObject::invokeMethod(app, QueuedCall(handOff, marker, &fn), Qt::QueuedConnection);
    marker.reset();

    std::unique_lock lock(handOff->mutex);
    handOff->changed.wait(lock, [&] { return handOff->done; });
    if (!handOff->ran)
        throw std::runtime_error("the window thread did not run the operation");
    if (handOff->error) {
        std::exception_ptr raised = std::move(handOff->error);
        lock.unlock();
        std::rethrow_exception(raised);
    }
}
