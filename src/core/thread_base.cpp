#include "core/thread_base.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>
#include <mutex>
#include <stdexcept>

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
        if (!self->Terminated()) {
            try {
                self->Execute();
            } catch (...) {
                // An error that escapes the thread function ends the thread quietly.
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
    CheckSuspended();
}

void RunOnWindowThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        throw std::logic_error("no application object to run window work on");
    if (QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    // The outcome is handed back under a lock of our own. Qt also releases
    // the waiting caller when the queued call is discarded without running
    // (the application shutting down); `ran` tells the two apart, so that an
    // operation that never ran is not taken for one that succeeded.
    std::mutex outcomeMutex;
    bool ran = false;
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        app,
        [&] {
            std::exception_ptr caught;
            try {
                fn();
            } catch (...) {
                caught = std::current_exception();
            }
            std::lock_guard lock(outcomeMutex);
            error = std::move(caught);
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    std::unique_lock lock(outcomeMutex);
    if (!ran)
        throw std::runtime_error("the window thread did not run the operation");
    if (error) {
        std::exception_ptr raised = std::move(error);
        lock.unlock();
        std::rethrow_exception(raised);
    }
}
