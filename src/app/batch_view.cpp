#include "app/batch_view.h"

#include "core/config.h"
#include "core/platform.h"
#include "report/progress_text.h"
#include "store/run_log.h"

#include <cstdio>

namespace {
constexpr int kResumeAfterErrorMs = 30000;
} // namespace

BatchRunView::BatchRunView(BatchProgress status) : status_(std::move(status)) {
    resumeTimer_.setSingleShot(true);
    QObject::connect(&resumeTimer_, &QTimer::timeout, [this] {
        if (OnResumeTimer)
            OnResumeTimer();
    });
}

void BatchRunView::Print(const QString& line, Line kind) {
    if (kind == Line::Keep)
        lines_ << line;
    const QByteArray utf8 = line.toUtf8() + '\n';
    status_.BeforeLogLine();
    std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
    std::fflush(stdout);
    status_.AfterLogLine();
}

void BatchRunView::PostLogLine(const QString& text) {
    Print(Timestamp() + QStringLiteral(": ") + text);
}

// The counter is the window's; standard output has the count lines.
void BatchRunView::PostFoundCount(std::int32_t) {}

void BatchRunView::PostProgress(std::int32_t, std::int32_t, const StatusFigures& figures) {
    status_.Update(figures);
}

void BatchRunView::PostRunState(bool starting, const RunEnding& ending) {
    if (starting) {
        lines_.clear();
        PostLogLine(QStringLiteral("Начинаем работу по заданным городам и категориям"));
        return;
    }
    const QString endLine =
        Timestamp() + QStringLiteral(": Работа завершена, лог записан в ") + ending.logPath;
    const QString reason =
        SaveRunLog((lines_ + QStringList{endLine}).join(QLatin1Char('\n')), ending.logPath);
    if (reason.isEmpty())
        Print(endLine);
    else
        PostLogLine(QStringLiteral("Ошибка: не удалось записать лог в ") + ending.logPath +
                    QStringLiteral(": ") + reason);
    status_.Finish();
    int code = kExitRunEnded;
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "%s\n", RunLogError(ending.logPath, reason).toUtf8().constData());
        std::fflush(stderr);
        code = kExitRunLogNotSaved;
    } else if (ending.refused) {
        code = kExitStartRefused;
    } else if (ending.errorShown || ending.pagesLost) {
        code = kExitRunError;
    }
    if (OnRunEnded)
        OnRunEnded(code);
}

void BatchRunView::PostResult(const RunOutcome& outcome) {
    if (outcome.kind == RunOutcome::Kind::Ok) {
        PostLogLine(QStringLiteral("Сбор данных завершен"));
        return;
    }
    PostLogLine(QStringLiteral("Ошибка: ") + ErrorLine(outcome.text));
    if (outcome.pauses)
        PostLogLine(QStringLiteral("Включаем паузу на 30 секунд"));
}

void BatchRunView::ArmResumeTimer() {
    resumeTimer_.start(kResumeAfterErrorMs);
}
