#include "run/pace.h"

#include <algorithm>

bool Pace::SlowDown(Clock::time_point now) {
    const double slower = std::max(kLeastShare, share_ / 2);
    if (slower >= share_)
        return false;
    share_ = slower;
    changed_ = now;
    return true;
}

bool Pace::RaiseIfDue(Clock::time_point now, std::optional<Clock::time_point> lastRateLimited) {
    if (share_ >= 1.0)
        return false;
    const Clock::time_point calmSince =
        lastRateLimited ? std::max(changed_, *lastRateLimited) : changed_;
    if (now - calmSince < kCalmBeforeRaise)
        return false;
    // Steps of a tenth may land a rounding error short of the ceiling.
    share_ = share_ + kRaiseStep > 1.0 - 1e-9 ? 1.0 : share_ + kRaiseStep;
    changed_ = now;
    return true;
}

Pace::Clock::duration Pace::Gap(Clock::duration ceilingGap) const {
    return std::chrono::duration_cast<Clock::duration>(ceilingGap / share_);
}
