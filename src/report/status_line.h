#pragma once
// The text of a batch run's status line: the phase, the items done of all,
// the cards found or rows written, the current rate and the time left at
// that rate, fitted to a width. Drawing it is the batch view's.

#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

// What a status line shows of a run.
struct StatusFigures {
    int phase = 1;          // 1 collecting card addresses, 2 downloading cards
    std::int64_t done = 0;  // items done
    std::int64_t total = 0; // items known in all
    std::int64_t count = 0; // phase 1: cards found; phase 2: rows written
};

// Items per second over the samples of the last kWindowMs.
class RateMeter {
public:
    static constexpr std::int64_t kWindowMs = 10000;

    // `done` items at `atMs` (a monotonic clock in ms, never going back).
    void Add(std::int64_t atMs, std::int64_t done);
    // None until the samples kept span at least a second.
    std::optional<double> PerSecond() const;
    void Clear() { samples_.clear(); }

private:
    std::deque<std::pair<std::int64_t, std::int64_t>> samples_; // (ms, done)
};

// Whole seconds as "M:SS", or "H:MM:SS" from an hour on.
QString DurationText(std::int64_t seconds);

// The seconds left for total − done items at `perSecond`, rounded up; none
// when the rate is unknown or not above 0.
std::optional<std::int64_t> SecondsLeft(const StatusFigures& figures,
                                        std::optional<double> perSecond);

// "Этап 2, скачивание карточек: 1200 из 20000, записано строк 1187, 85.3/с,
// осталось 3:41"; an unknown rate or time left shows as "—".
QString StatusLineText(const StatusFigures& figures, std::optional<double> perSecond);

// The status line in at most `columns` characters, the essentials (phase,
// done of all, time left) kept longest: the full text when it fits, else
// without the rate, then without the count as well, then with the phase's
// short name ("Этап 2: 1200 из 20000, осталось 3:41"), and that cut to
// `columns` as the last resort.
QString StatusLineText(const StatusFigures& figures, std::optional<double> perSecond, int columns);
