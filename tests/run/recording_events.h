#pragma once
// A RunEvents that records what a run shows, for the run tests that need no
// window: the log as the views write it (without time stamps), the last
// counter and progress, the run log path of the end display, and the resume
// timer's arming. Called on the window thread only, like every RunEvents.

#include "core/config.h"
#include "report/progress_text.h"
#include "run/run_events.h"
#include "run/run_request.h"
#include "run/run_support.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace runtest {

class RecordingEvents final : public RunEvents {
public:
    QStringList lines;
    std::int32_t found = -1;
    std::vector<std::pair<std::int32_t, std::int32_t>> progress; // (position, maximum)
    std::vector<StatusFigures> figures;
    int starts = 0;
    int ends = 0;
    RunEnding ending;
    int armed = 0;
    // Called with each line as it is added, on the window thread.
    std::function<void(const QString& line)> onLine;

    void PostLogLine(const QString& text) override { Add(text); }
    void PostFoundCount(std::int32_t count) override { found = count; }
    void PostProgress(std::int32_t position, std::int32_t maximum,
                      const StatusFigures& shown) override {
        progress.emplace_back(position, maximum);
        figures.push_back(shown);
    }
    void PostRunState(bool starting, const RunEnding& end) override {
        if (starting) {
            ++starts;
            Add(QStringLiteral("Начинаем работу по заданным городам и категориям"));
            return;
        }
        ++ends;
        ending = end;
        Add(QStringLiteral("Работа завершена, лог записан в ") + end.logPath);
    }
    void PostResult(const RunOutcome& outcome) override {
        if (outcome.kind == RunOutcome::Kind::Ok) {
            Add(QStringLiteral("Сбор данных завершен"));
            return;
        }
        Add(QStringLiteral("Ошибка: ") + ErrorLine(outcome.text));
        if (outcome.pauses)
            Add(QStringLiteral("Включаем паузу на 30 секунд"));
    }
    void ArmResumeTimer() override { ++armed; }

    // A line the window itself writes (pause, stop).
    void Add(const QString& line) {
        lines << line;
        if (onLine)
            onLine(line);
    }
};

// A request for the demo site the configuration points at: the pairs of
// these city rows and category slugs, the rows taken in list order as the
// window's selection gives them.
inline RunRequest DemoRequest(const nlohmann::json& expected, const QStringList& cities,
                              const QStringList& slugs) {
    RunRequest request;
    request.webHost = Config().WebHost;
    request.apiHost = Config().ApiHost;
    for (const auto& category : expected["categories"]) {
        request.categoryIds << Str(category["id"]);
        if (slugs.contains(Str(category["slug"])))
            request.categoryRows << Str(category["row"]);
    }
    for (const auto& city : expected["cityRows"]) {
        if (cities.contains(Str(city["row"])))
            request.cityRows << Str(city["row"]);
    }
    return request;
}

// The path named by the "Данные будут записываться в файл " line.
inline QString ResultPathOf(const QStringList& lines) {
    for (const QString& line : lines) {
        if (line.startsWith(kFilePrefix))
            return line.mid(kFilePrefix.size());
    }
    return {};
}

} // namespace runtest
