#include "run/card_store_output.h"

#include "core/platform.h"
#include "store/changes_file.h"

std::vector<QString> CardStoreOutput::Begin(const RunRequest& request, const QString& key,
                                            bool continued) {
    store_.BeginRun({request.webHost, request.apiHost, request.categoryRows, request.cityRows}, key,
                    QDateTime::currentDateTime(), continued);
    return store_.TakeLines();
}

std::vector<QString> CardStoreOutput::Sync() {
    store_.Flush();
    return store_.TakeLines();
}

std::vector<QString> CardStoreOutput::Finish(RunFinish& finish) {
    const QString changes = finish.resultPath.isEmpty()
                                ? ProgramFolder() + TickFileName("changes%d.csv", finish.tick)
                                : ChangesPathFor(finish.resultPath);
    StoreReport report = store_.FinishRun(finish.complete, finish.ended, changes);
    if (report.compared) {
        finish.comparison = report.comparison;
        finish.comparedWith = report.comparedWith;
        finish.changesPath = report.changesPath;
    }
    return std::move(report.lines);
}
