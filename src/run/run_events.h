#pragma once
// What a run tells whoever shows it: the window, or batch mode's standard
// output and error. One call per notification, each with its values. The run
// makes every call on the window thread while it waits (the blocking
// hand-off), so an implementation may touch widgets and needs no lock; after
// the call the run stops at its pause gate when it has been paused meanwhile.

#include "report/status_line.h"

#include <QString>

#include <cstdint>

// The outcome a run posts at the end of phase 2, or after an error.
struct RunOutcome {
    enum class Kind { Ok, Error };
    Kind kind = Kind::Ok;
    QString text;        // the error's message
    bool pauses = false; // the error pauses the run for 30 seconds
};

// How a run ended, for its end display and whoever waits for it.
struct RunEnding {
    QString logPath;         // where the run log is to be written
    bool errorShown = false; // an "Ошибка: ..." line, or an error no phase caught
    bool pagesLost = false;  // listing pages could not be loaded
    bool refused = false;    // another copy of the program runs this run
};

class RunEvents {
public:
    virtual ~RunEvents() = default;

    // A log line; the view puts the time stamp before it.
    virtual void PostLogLine(const QString& text) = 0;
    // The found-cards counter.
    virtual void PostFoundCount(std::int32_t count) = 0;
    // Work items handed out of the current phase's; the figures of the batch
    // status line.
    virtual void PostProgress(std::int32_t position, std::int32_t maximum,
                              const StatusFigures& figures) = 0;
    // The start display (`starting`), or the end display with the run log
    // written to `ending.logPath`: the last notification of every run.
    virtual void PostRunState(bool starting, const RunEnding& ending) = 0;
    // "Сбор данных завершен", or the error with its 30-second pause.
    virtual void PostResult(const RunOutcome& outcome) = 0;
    // Arms the 30-second timer that resumes a run an error has paused.
    virtual void ArmResumeTimer() = 0;
};
