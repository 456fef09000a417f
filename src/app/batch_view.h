#pragma once
// Batch mode's side of a run: every log line on standard output (and kept for
// the run log file), the status line on standard error, the resume timer of
// an error pause, and the exit code once the run has ended. No widget.

#include "app/batch_status.h"
#include "run/run_events.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class BatchRunView final : public RunEvents {
public:
    explicit BatchRunView(BatchProgress status);

    // A line on standard output, the status line stepping aside for it. A
    // line of the run (Keep) also goes to its log file.
    enum class Line { Keep, PrintOnly };
    void Print(const QString& line, Line kind = Line::Keep);

    // What the resume timer does when it fires (the run's resume).
    std::function<void()> OnResumeTimer;
    // Called with the exit code once the end display is done.
    std::function<void(int exitCode)> OnRunEnded;

    void PostLogLine(const QString& text) override;
    void PostFoundCount(std::int32_t count) override;
    void PostProgress(std::int32_t position, std::int32_t maximum,
                      const StatusFigures& figures) override;
    void PostRunState(bool starting, const RunEnding& ending) override;
    void PostResult(const RunOutcome& outcome) override;
    void ArmResumeTimer() override;

private:
    BatchProgress status_;
    QStringList lines_; // the run's log, for its file
    QTimer resumeTimer_;
};
