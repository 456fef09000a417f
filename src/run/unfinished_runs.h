#pragma once
// Finding the interrupted run that a new START may continue: the most recent
// journal in the program folder whose hosts and selected rows are the ones
// asked for.

#include "run/run_journal.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// A journal that cannot be trusted, and why.
struct UntrustedJournal {
    QString path;
    QString problem;
};

struct UnfinishedRun {
    QString journal;                         // empty: none found
    bool inUse = false;                      // another copy of the program is running it now
    std::int64_t cards = 0;                  // card URLs it has collected
    std::int64_t rows = 0;                   // rows its result file holds
    QString resultPath;                      // its result file, once phase 2 named one
    std::vector<UntrustedJournal> untrusted; // to be set aside
};

// Looks at the journals of `folder`, most recently written first. A journal
// another process holds is never touched: when its settings are the ones
// wanted, the run is found `inUse`. A journal whose settings cannot be read,
// or the matching one when its records cannot be trusted, goes to
// `untrusted`; the others are left alone.
UnfinishedRun FindUnfinishedRun(const QString& folder, const RunSettings& wanted);
