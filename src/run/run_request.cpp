#include "run/run_request.h"

RunSettings RunRequest::Settings() const {
    RunSettings settings;
    settings.webHost = webHost;
    settings.apiHost = apiHost;
    settings.categoryRows = categoryRows;
    settings.cityRows = cityRows;
    settings.categoryIds = categoryIds;
    return settings;
}

QString SelectionRefusal(const RunRequest& request) {
    if (request.cityRows.isEmpty())
        return QStringLiteral("Ни один регион не выбран, старт невозможен. Кликните по нужному "
                              "региону для его выбора.");
    if (request.categoryRows.isEmpty())
        return QStringLiteral("Ни одна категория не выбрана, старт невозможен. Кликните по "
                              "нужной категории для её выбора.");
    return {};
}

QString ChooseRunToContinue(RunRequest& request, const QString& folder,
                            const std::function<ContinueAnswer(const UnfinishedRun&)>& ask) {
    const UnfinishedRun found = FindUnfinishedRun(folder, request.Settings());
    // Two copies writing one run would damage its result file.
    if (found.inUse)
        return QStringLiteral("Сбор с такими настройками уже идёт в другой копии программы, "
                              "второй запуск отменён");
    request.badJournals = found.untrusted;
    if (found.journal.isEmpty()) {
        request.noRunToResume = !ask;
        return {};
    }
    const ContinueAnswer answer = ask ? ask(found) : ContinueAnswer::Continue;
    switch (answer) {
    case ContinueAnswer::Cancel:
        return QStringLiteral("Запуск отменён");
    case ContinueAnswer::Continue:
        request.resumeJournal = found.journal;
        request.resumeRows = found.rows;
        return {};
    case ContinueAnswer::StartAnew:
        RemoveJournal(found.journal); // its result file stays
        return {};
    }
    return {};
}
