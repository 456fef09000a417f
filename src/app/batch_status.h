#pragma once
// Drawing a batch run's status line on standard error: rewritten in place on
// a terminal (never wider than it, stepping aside for log lines on standard
// output), else a plain line a minute.

#include "report/status_line.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

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

// The status line of this process on standard error: Off with `quiet`; Live,
// as wide as the terminal allows, when standard error is a terminal, else
// Lines.
BatchProgress StandardErrorStatus(bool quiet);
