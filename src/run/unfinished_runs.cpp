#include "run/unfinished_runs.h"

#include "run/result_file.h"

#include <QFile>

namespace {

bool SameRun(const RunSettings& a, const RunSettings& b) {
    return a.webHost == b.webHost && a.apiHost == b.apiHost && a.categoryRows == b.categoryRows &&
           a.cityRows == b.cityRows;
}

} // namespace

UnfinishedRun FindUnfinishedRun(const QString& folder, const RunSettings& wanted) {
    UnfinishedRun found;
    for (const QString& path : JournalFiles(folder)) {
        const bool inUse = JournalInUse(path);
        const JournalRead head = ReadJournalFile(path, JournalReading::Settings);
        if (!head.trusted) {
            if (!inUse)
                found.untrusted.push_back({path, head.problem});
            continue;
        }
        if (!SameRun(head.state.settings, wanted))
            continue;
        if (inUse) {
            found.journal = path;
            found.inUse = true;
            break;
        }
        const JournalRead whole = ReadJournalFile(path, JournalReading::Summary);
        if (!whole.trusted) {
            found.untrusted.push_back({path, whole.problem});
            continue;
        }
        found.journal = path;
        found.cards = whole.state.cards;
        found.resultPath = whole.state.resultPath;
        QFile result(found.resultPath);
        if (!found.resultPath.isEmpty() && result.open(QIODevice::ReadOnly))
            found.rows = ScanResultRows(result, false).count;
        break;
    }
    return found;
}
