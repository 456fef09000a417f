#pragma once
// The pace at which a run starts work items, as a share of its ceiling (the
// polling loop's own pace, the fastest the run ever goes): halved when a wait
// that a 429 caused ends, raised by a tenth of the ceiling after every 30
// seconds without a 429, so that it settles just under a site's limit.

#include <chrono>
#include <optional>

class Pace {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kLeastShare = 0.05;
    static constexpr double kRaiseStep = 0.1;
    static constexpr std::chrono::seconds kCalmBeforeRaise{30};

    // 1 at the ceiling, never below kLeastShare.
    double Share() const { return share_; }

    // A wait that a 429 caused ended at `now`: half the share. Returns
    // whether it changed (not at the least share).
    bool SlowDown(Clock::time_point now);

    // A tenth of the ceiling more once 30 seconds have passed since the later
    // of the last change and the last 429; never above the ceiling. Returns
    // whether it changed.
    bool RaiseIfDue(Clock::time_point now, std::optional<Clock::time_point> lastRateLimited);

    // The least time between two starts when the ceiling is one start per
    // `ceilingGap`.
    Clock::duration Gap(Clock::duration ceilingGap) const;

private:
    double share_ = 1.0;
    Clock::time_point changed_{};
};
