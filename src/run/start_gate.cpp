#include "run/start_gate.h"

#include "core/config.h"
#include "net/fetch_worker.h"

bool StartGate::MayStart(const QString& item, Clock::time_point now) const {
    if (backoff_->Waiting(WorkItemHost(item, Config().ApiHost), now))
        return false;
    // At the ceiling the polling loop's own sleeps set the pace.
    return pace_.Share() >= 1.0 || !lastStart_ || now - *lastStart_ >= pace_.Gap(ceilingGap_);
}

QStringList StartGate::Update(Clock::time_point now) {
    QStringList lines;
    for (const BackoffWait& wait : backoff_->TakeBegun()) {
        const QString seconds = QString::number(wait.seconds);
        lines << (wait.cause == BackoffCause::Refused
                      ? QStringLiteral("Сайт недоступен, повторяем через %1 секунд").arg(seconds)
                      : QStringLiteral("Сайт просит подождать: пауза %1 секунд").arg(seconds));
    }
    for (int ended = backoff_->TakeEndedRateLimited(now); ended > 0; --ended) {
        if (pace_.SlowDown(now))
            lines << QStringLiteral("Темп снижен до %1 запросов в секунду").arg(RateText());
    }
    if (pace_.RaiseIfDue(now, backoff_->LastRateLimited()))
        lines << QStringLiteral("Темп повышен до %1 запросов в секунду").arg(RateText());
    return lines;
}

// Starts per second at the current pace, to one decimal.
QString StartGate::RateText() const {
    const double gapSeconds = std::chrono::duration<double>(ceilingGap_).count();
    return QString::number(pace_.Share() / gapSeconds, 'f', 1);
}
