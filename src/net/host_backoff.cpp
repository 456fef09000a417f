#include "net/host_backoff.h"

#include <algorithm>
#include <utility>

namespace {

int WholeSecondsUp(std::chrono::steady_clock::duration span) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(span).count();
    return std::max<int>(1, static_cast<int>((ms + 999) / 1000));
}

} // namespace

void HostBackoff::Report(const QString& host, BackoffCause cause, Clock::duration wait,
                         Clock::time_point now) {
    const Clock::time_point until = now + wait;
    std::lock_guard lock(mutex_);
    Host& state = hosts_[host];
    const bool waiting = state.notBefore > now;
    if (!waiting && state.rateLimited) {
        // The earlier wait ended unseen; it still counts once.
        ++endedRateLimited_;
        state.rateLimited = false;
    }
    if (cause == BackoffCause::RateLimited) {
        state.rateLimited = true;
        lastRateLimited_ = now;
    }
    if (until <= state.notBefore)
        return;
    const bool begins = !waiting || wait > state.longest;
    if (!waiting)
        state.longest = {};
    state.longest = std::max(state.longest, wait);
    state.notBefore = until;
    if (begins)
        begun_.push_back({host, cause, WholeSecondsUp(until - now)});
}

bool HostBackoff::Waiting(const QString& host, Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    const auto found = hosts_.find(host);
    return found != hosts_.end() && found->second.notBefore > now;
}

std::vector<BackoffWait> HostBackoff::TakeBegun() {
    std::lock_guard lock(mutex_);
    return std::exchange(begun_, {});
}

int HostBackoff::TakeEndedRateLimited(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    int ended = std::exchange(endedRateLimited_, 0);
    for (auto& [host, state] : hosts_) {
        if (state.rateLimited && state.notBefore <= now) {
            state.rateLimited = false;
            ++ended;
        }
    }
    return ended;
}

std::optional<HostBackoff::Clock::time_point> HostBackoff::LastRateLimited() const {
    std::lock_guard lock(mutex_);
    return lastRateLimited_;
}
