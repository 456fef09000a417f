#pragma once
// Something a run's cards go into besides its result file (the card store, a
// workbook): told on the run thread as the run goes, and asked at the run's
// end, after its summary, what to add to the log.

#include "report/run_summary.h"
#include "run/run_request.h"
#include "store/run_comparison.h"
#include "text/card_record.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

// How a run ended, for its outputs; those earlier in the run's list leave
// what later ones may use.
struct RunFinish {
    bool complete = false;  // no listing page lost, no stop, every card gone through
    QString resultPath;     // the result file; empty when the run made none
    std::uint32_t tick = 0; // the run's tick, which names its files
    std::int64_t found = 0; // card URLs the run found, as its summary counts them
    const RunSummary* summary = nullptr;
    QDateTime started;
    QDateTime ended;
    // Left by the card store: the comparison with the earlier run, and the
    // changes file written.
    std::optional<RunComparison> comparison;
    QDateTime comparedWith; // the earlier run's start
    QString changesPath;
    // Set by an output: the file the desktop is to open instead of the
    // result file; that an output could not write its file (an error of the
    // run, as its exit code tells).
    QString openInstead;
    bool failed = false;
};

class RunOutput {
public:
    virtual ~RunOutput() = default;

    // The run begins; `key` names its journal, and `continued` says whether
    // it goes on from it. Returns lines for the log.
    virtual std::vector<QString> Begin(const RunRequest& request, const QString& key,
                                       bool continued) = 0;
    // A card URL collected in phase 1; a card's row, as given to the result
    // file; a card whose page answered 404. A continued run tells again what
    // its journal and result file hold.
    virtual void Found(const QString& url) = 0;
    virtual void RowWritten(const CardRecord& card) = 0;
    virtual void Gone(const QString& url) = 0;
    // At most once a second; returns lines for the log.
    virtual std::vector<QString> Sync() = 0;
    // The run has ended (or stopped) and shown its summary.
    virtual std::vector<QString> Finish(RunFinish& finish) = 0;
};

using RunOutputs = std::vector<std::unique_ptr<RunOutput>>;
