#pragma once
// What a run is asked to do, built once at START from the lists and the
// selection: the hosts, the selected rows, the category ids, and whether it
// continues an interrupted run.

#include "store/unfinished_runs.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

struct RunRequest {
    QString webHost;
    QString apiHost;
    QStringList cityRows;     // the selected rows, in list order
    QStringList categoryRows; // the selected rows, in list order
    QStringList categoryIds;  // of every category row, as loaded
    std::int32_t limit = 5;   // the most fetch workers at once
    bool openResult = false;  // hand the result file to the desktop at the end
    bool workbook = false;    // also write the workbook, opened instead of the result file

    // What to continue. resumeJournal: the journal of an interrupted run to
    // continue instead of starting anew (an untrusted one is reported and set
    // aside, and the run starts anew; one that another copy of the program
    // holds meanwhile refuses the run); resumeRows: the rows its result file
    // held when it was found. badJournals: journals found untrusted, with
    // why, to be reported and renamed to "<name>.bad". noRunToResume: a run
    // to continue was asked for and none was found; the run says so.
    QString resumeJournal;
    std::int64_t resumeRows = 0;
    std::vector<UntrustedJournal> badJournals;
    bool noRunToResume = false;

    // The settings a run is started with and continued only with the same.
    RunSettings Settings() const;
};

// The line START writes instead of starting when a list has no selected row
// (the city list first); empty when both have.
QString SelectionRefusal(const RunRequest& request);

// The answers to the question whether to continue an interrupted run.
enum class ContinueAnswer {
    Continue,  // "Да"
    StartAnew, // "Нет": the interrupted run's journal is deleted
    Cancel,    // Escape or the box closed: nothing starts
};

// Looks in `folder` for an interrupted run of the request's hosts and
// selection and fills the request's fields of what to continue. `ask` puts
// the question to the user; without it (batch mode) a run found is continued
// and the run says when none was. Returns the line START writes instead of
// starting (the run is going on in another copy of the program, or the
// question was cancelled); empty when the run may start.
QString ChooseRunToContinue(RunRequest& request, const QString& folder,
                            const std::function<ContinueAnswer(const UnfinishedRun&)>& ask);
