#pragma once
// The thread base of the run and the fetch workers.
//
// A thread object is created suspended and started later. It is always owned
// through std::shared_ptr: while its thread function runs it holds a reference
// to itself, so it outlives every other holder until the function returns,
// and then releases itself. Destruction waits for the thread to end (or
// detaches when the last reference goes on the thread itself).
//
// Suspend and resume work through a gate: a suspension count that the thread
// function waits on at its safe points (CheckSuspended, and right after each
// Synchronize returns). A thread is never stopped at an arbitrary point, so it
// never sits suspended while holding a lock someone else waits for.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TThread : public std::enable_shared_from_this<TThread> {
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Begins the thread function. When termination was requested before,
    // Execute does not run and the thread ends at once.
    void Start();

    // Sets the termination request and wakes the thread from a WaitUnlessTerminated.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    void Suspend();
    void Resume(); // no effect when the count is already 0
    bool Suspended() const;

    bool Started() const { return started_.load(); }
    bool Finished() const { return finished_.load(); }

    // Blocks until the thread function has returned. Not from the thread
    // itself (asserted).
    void WaitFor();

    // Threads of this class that exist now (tests and shutdown use it).
    static int LiveCount() { return liveCount_.load(); }

protected:
    virtual void Execute() = 0;
    // Runs on the thread instead of Execute when termination was requested
    // before the thread function began.
    virtual void TerminatedBeforeStart() {}

    // Runs `fn` on the window thread and waits for it; an exception raised by
    // `fn` is raised again here. Called on the window thread, `fn` runs at
    // once. Afterwards the thread stops at the gate when it was suspended
    // meanwhile.
    void Synchronize(const std::function<void()>& fn);

    // A safe point: waits while the suspension count is above 0.
    void CheckSuspended();

    // Waits `duration`, or less when termination is requested before or
    // meanwhile. Returns false when the wait ended by that request.
    bool WaitUnlessTerminated(std::chrono::milliseconds duration);

private:
    struct LiveCounter {
        LiveCounter() { ++liveCount_; }
        ~LiveCounter() { --liveCount_; }
    };
    static inline std::atomic<int> liveCount_{0};

    LiveCounter counter_;
    std::thread thread_;
    std::atomic<std::thread::id> runningOn_{}; // the thread function's thread
    std::atomic<bool> terminated_{false};
    std::mutex terminateMutex_;
    std::condition_variable terminateRequested_;
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    int suspendCount_ = 0;
    std::mutex finishMutex_;
    std::condition_variable finishedChanged_;
};

// Writes one line naming `where` and the error to standard error: the trace
// of an error that nobody else can report.
void ReportEscaped(const char* where, std::exception_ptr error);

// Runs `fn` on the window thread and waits, carrying an exception back. On the
// window thread itself it runs at once.
void RunOnWindowThread(const std::function<void()>& fn);
