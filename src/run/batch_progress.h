#pragma once
// The status line of a batch run on standard error: the phase, the items done
// of all, the cards found or rows written, the current rate and the time left
// at that rate. Rewritten in place on a terminal, else a plain line a minute.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
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

// The width in columns of the terminal on `fd`; 0 when it does not say.
int TerminalColumns(int fd);

class BatchProgress {
public:
    enum class Mode {
        Off,   // nothing is written
        Live,  // one line rewritten in place (a terminal)
        Lines, // a plain line every kLinesEveryMs
    };
    static constexpr std::int64_t kLiveEveryMs = 500;
    static constexpr std::int64_t kLinesEveryMs = 60000;

    // A live line is kept narrower than the terminal, so that it never wraps
    // (a wrapped line is not taken off the screen whole).
    static constexpr int kAssumedColumns = 80;

    using Writer = std::function<void(const QByteArray&)>;
    // The terminal's width now, asked at each draw; 0 or none: kAssumedColumns.
    using Columns = std::function<int()>;
    BatchProgress(Mode mode, Writer write, Columns columns = {})
        : mode_(mode), write_(std::move(write)), columns_(std::move(columns)) {}

    // The run's figures at `nowMs` (monotonic); writes the status when it is
    // due. A new phase starts the rate afresh.
    void Update(const StatusFigures& figures, std::int64_t nowMs);
    void Update(const StatusFigures& figures);

    // Around a log line on standard output: a live line is taken off the
    // screen before it and drawn again below it.
    void BeforeLogLine();
    void AfterLogLine();

    // The run has ended: a live line is taken off the screen for good.
    void Finish();

private:
    void Draw();

    // What the live line on the screen shows.
    struct Shown {
        StatusFigures figures;
        std::optional<double> perSecond;
    };

    Mode mode_;
    Writer write_;
    Columns columns_;
    RateMeter rate_;
    int phase_ = 0;
    std::optional<std::int64_t> lastWrite_; // ms of the last status written
    std::optional<std::int64_t> firstSeen_; // ms of the first update
    std::int64_t lastSample_ = 0;
    std::optional<Shown> shown_; // none when no live line is on the screen
};

// The program's status line: Off unless in batch mode without --quiet; Live,
// as wide as the terminal allows, when standard error is a terminal, else
// Lines. Used on the window thread.
BatchProgress& BatchStatus();
