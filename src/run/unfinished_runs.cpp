#include "run/unfinished_runs.h"

#include "run/result_file.h"

#include <QFile>

UnfinishedRun FindUnfinishedRun(const QString& folder, const RunSettings& wanted) {
    UnfinishedRun found;
    for (const QString& path : JournalFiles(folder)) {
        const JournalRead head = ReadJournalFile(path, JournalReading::Settings);
        if (!head.trusted) {
            found.untrusted << path;
            continue;
        }
        const RunSettings& settings = head.state.settings;
        if (settings.webHost != wanted.webHost || settings.apiHost != wanted.apiHost ||
            settings.categoryRows != wanted.categoryRows || settings.cityRows != wanted.cityRows)
            continue;
        const JournalRead whole = ReadJournalFile(path, JournalReading::Summary);
        if (!whole.trusted) {
            found.untrusted << path;
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
