#pragma once
// The window's side of a run: the six notifications shown in its log, its
// progress bar, its found-cards counter and its buttons, and the resume timer
// armed after an error.

#include "run/run_events.h"

#include <QString>

#include <functional>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class WindowRunView final : public RunEvents {
public:
    // The window's controls; they must outlive the view.
    struct Controls {
        QPlainTextEdit* log;
        QProgressBar* progress;
        QPushButton* start;
        QTimer* resumeTimer;
        QListWidget* cities;
        QListWidget* categories;
        QLabel* found;
    };
    explicit WindowRunView(const Controls& controls) : c_(controls) {}

    // Called at the end of the end display, with the error text when the run
    // log file could not be written, else empty.
    std::function<void(const QString& logError)> OnRunEnded;

    void PostLogLine(const QString& text) override;
    // The counter and the progress bar handle the window's pending events,
    // so that the window stays usable while a run floods it with
    // notifications; a pause, stop or close may therefore run inside them.
    void PostFoundCount(std::int32_t count) override;
    void PostProgress(std::int32_t position, std::int32_t maximum,
                      const StatusFigures& figures) override;
    void PostRunState(bool starting, const RunEnding& ending) override;
    void PostResult(const RunOutcome& outcome) override;
    void ArmResumeTimer() override;

private:
    Controls c_;
};
