#pragma once
// When a run may start its next work item: not while the item's host asks to
// wait (the back-off its workers share) and not faster than the run's pace;
// and the log lines both give: the waits that began, the pace's changes.

#include "net/host_backoff.h"
#include "run/pace.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

class StartGate {
public:
    using Clock = std::chrono::steady_clock;

    // The back-off to hand to every worker of the run.
    const std::shared_ptr<HostBackoff>& Backoff() const { return backoff_; }

    // The pace ceiling of the phase now running: one start per `gap`.
    void SetCeiling(Clock::duration gap) { ceilingGap_ = gap; }

    // Whether `item` may start at `now`.
    bool MayStart(const QString& item, Clock::time_point now) const;
    void Started(Clock::time_point now) { lastStart_ = now; }

    // Brings the pace up to date at `now`; returns the log lines due.
    QStringList Update(Clock::time_point now);

private:
    QString RateText() const;

    std::shared_ptr<HostBackoff> backoff_ = std::make_shared<HostBackoff>();
    Pace pace_;
    Clock::duration ceilingGap_ = std::chrono::milliseconds(40);
    std::optional<Clock::time_point> lastStart_;
};
