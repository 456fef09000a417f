#include "ui/window_view.h"

#include "core/platform.h"
#include "report/progress_text.h"
#include "run/scraper.h"
#include "store/run_log.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kResumeAfterErrorMs = 30000;

void AppendStamped(QPlainTextEdit* log, const QString& text) {
    log->appendPlainText(Timestamp() + QStringLiteral(": ") + text);
}

} // namespace

void WindowRunView::PostLogLine(const QString& text) {
    AppendStamped(c_.log, text);
}

void WindowRunView::PostFoundCount(std::int32_t count) {
    c_.found->setText(QStringLiteral("Найдено карточек: ") + QString::number(count));
    QCoreApplication::processEvents();
}

// At most once a second, so that a fast run does not spend its time drawing.
void WindowRunView::PostProgress(std::int32_t position, std::int32_t maximum,
                                 const StatusFigures&) {
    if (!ProgressDue(TScraper::Tick(), LastProgressTick))
        return;
    const ProgressValues v = ClampProgress(position, maximum);
    c_.progress->setMaximum(v.maximum);
    c_.progress->setValue(v.position);
    c_.progress->setToolTip(ProgressHint(c_.progress->value(), c_.progress->maximum()));
    QCoreApplication::processEvents();
    LastProgressTick = TScraper::Tick();
}

void WindowRunView::PostRunState(bool starting, const RunEnding& ending) {
    if (starting) {
        c_.log->clear();
        AppendStamped(c_.log, QStringLiteral("Начинаем работу по заданным городам и категориям"));
        c_.cities->setEnabled(false);
        c_.categories->setEnabled(false);
        c_.start->setEnabled(false);
        return;
    }
    // The end line is shown only once the file holding it has been written;
    // otherwise the last line says why it was not.
    const QString endLine =
        Timestamp() + QStringLiteral(": Работа завершена, лог записан в ") + ending.logPath;
    const QString reason =
        SaveRunLog(c_.log->toPlainText() + QLatin1Char('\n') + endLine, ending.logPath);
    if (reason.isEmpty())
        c_.log->appendPlainText(endLine);
    else
        AppendStamped(c_.log, QStringLiteral("Ошибка: не удалось записать лог в ") +
                                  ending.logPath + QStringLiteral(": ") + reason);
    c_.cities->setEnabled(true);
    c_.categories->setEnabled(true);
    c_.start->setEnabled(true);
    if (OnRunEnded)
        OnRunEnded(reason.isEmpty() ? QString() : RunLogError(ending.logPath, reason));
}

void WindowRunView::PostResult(const RunOutcome& outcome) {
    if (outcome.kind == RunOutcome::Kind::Ok) {
        AppendStamped(c_.log, QStringLiteral("Сбор данных завершен"));
        return;
    }
    AppendStamped(c_.log, QStringLiteral("Ошибка: ") + ErrorLine(outcome.text));
    if (outcome.pauses)
        AppendStamped(c_.log, QStringLiteral("Включаем паузу на 30 секунд"));
}

// Arming restarts the count, also when the timer already runs.
void WindowRunView::ArmResumeTimer() {
    c_.resumeTimer->setInterval(kResumeAfterErrorMs);
    c_.resumeTimer->start();
}
