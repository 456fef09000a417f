#pragma once
// The back-off a run's workers share: per host, the time before which the run
// starts no new work item for it, moved on by every worker that meets the
// site asking to wait (429, 503) or refusing connections; with the waits to
// announce in the log and the waits a 429 caused that have since ended.

#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

// Why a host is waited for.
enum class BackoffCause {
    RateLimited, // 429 Too Many Requests
    Unavailable, // 503 Service Unavailable
    Refused,     // connections refused
};

// A wait that began: its cause and its length in whole seconds, rounded up.
struct BackoffWait {
    QString host;
    BackoffCause cause;
    int seconds;
};

class HostBackoff {
public:
    using Clock = std::chrono::steady_clock;

    // A worker met `cause` on `host` at `now` and waits `wait` before its next
    // attempt. The host's time moves to now + wait when that is later (the
    // latest asked for wins). A report while the host is not waiting begins a
    // wait; so does one asking for a longer wait than any report of the
    // running one (the workers' waits doubling). Others join the running
    // wait without a word: five workers meeting the same 429, or the next
    // worker reaching the same step of its doubling.
    void Report(const QString& host, BackoffCause cause, Clock::duration wait,
                Clock::time_point now);

    // Whether no new work item may start for `host` at `now`.
    bool Waiting(const QString& host, Clock::time_point now) const;

    // The waits begun since the last call, in the order they began.
    std::vector<BackoffWait> TakeBegun();

    // How many waits joined by a 429 have ended by `now` since the last call;
    // each such wait is counted once, however many 429s it had.
    int TakeEndedRateLimited(Clock::time_point now);

    // When the latest 429 was reported, if one was.
    std::optional<Clock::time_point> LastRateLimited() const;

private:
    struct Host {
        Clock::time_point notBefore{};
        Clock::duration longest{}; // the longest wait a report of the running wait asked for
        bool rateLimited = false;  // the running (or just ended) wait had a 429
    };

    mutable std::mutex mutex_;
    std::map<QString, Host> hosts_;
    std::vector<BackoffWait> begun_;
    int endedRateLimited_ = 0; // ended before TakeEndedRateLimited saw them
    std::optional<Clock::time_point> lastRateLimited_;
};
