#include "run/workbook_output.h"

std::vector<QString> WorkbookOutput::Begin(const RunRequest& request, const QString&, bool) {
    request_ = request;
    return {};
}

std::vector<QString> WorkbookOutput::Finish(RunFinish& finish) {
    // Without a result file there are no cards to show.
    if (finish.resultPath.isEmpty())
        return {};
    WorkbookFacts facts;
    facts.webHost = request_.webHost;
    facts.apiHost = request_.apiHost;
    facts.categories = request_.categoryRows;
    facts.cities = request_.cityRows;
    facts.started = finish.started;
    facts.ended = finish.ended;
    facts.found = finish.found;
    if (finish.summary != nullptr)
        facts.summary = *finish.summary;
    facts.comparison = finish.comparison;
    facts.comparedWith = finish.comparedWith;
    const QString path = WorkbookPathFor(finish.resultPath);
    try {
        WriteWorkbook(path, finish.resultPath, finish.changesPath, facts, limits_);
    } catch (const std::exception& error) {
        finish.failed = true;
        return {QStringLiteral("Ошибка: не удалось записать %1: %2")
                    .arg(path, QString::fromUtf8(error.what()))};
    }
    finish.openInstead = path;
    return {QStringLiteral("Книга Excel записана в ") + path};
}
