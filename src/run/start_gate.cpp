#include "run/start_gate.h"

#include "core/config.h"
#include "net/fetch_worker.h"
#include "text/russian_plural.h"

namespace {

// "через 1 секунду", "пауза 3 секунды", "пауза 5 секунд".
constexpr CountForms kSeconds{u"секунду", u"секунды", u"секунд", u"секунды"};
// After "до": "до 1 запроса", "до 3 запросов", "до 12.5 запроса".
constexpr CountForms kRequestsUpTo{u"запроса", u"запросов", u"запросов", u"запроса"};

} // namespace

bool StartGate::MayStart(const QString& item, Clock::time_point now) const {
    if (backoff_->Waiting(WorkItemHost(item, Config().ApiHost), now))
        return false;
    // At the ceiling the polling loop's own sleeps set the pace.
    return pace_.Share() >= 1.0 || !lastStart_ || now - *lastStart_ >= pace_.Gap(ceilingGap_);
}

QStringList StartGate::Update(Clock::time_point now) {
    QStringList lines;
    for (const BackoffWait& wait : backoff_->TakeBegun()) {
        const QString seconds = CountedText(wait.seconds, 0, kSeconds);
        lines << (wait.cause == BackoffCause::Refused
                      ? QStringLiteral("Сайт недоступен, повторяем через %1").arg(seconds)
                      : QStringLiteral("Сайт просит подождать: пауза %1").arg(seconds));
    }
    for (int ended = backoff_->TakeEndedRateLimited(now); ended > 0; --ended) {
        if (pace_.SlowDown(now))
            lines << QStringLiteral("Темп снижен до %1 в секунду").arg(RateText());
    }
    if (pace_.RaiseIfDue(now, backoff_->LastRateLimited()))
        lines << QStringLiteral("Темп повышен до %1 в секунду").arg(RateText());
    return lines;
}

// Starts per second at the current pace, to one decimal, with its noun.
QString StartGate::RateText() const {
    const double gapSeconds = std::chrono::duration<double>(ceilingGap_).count();
    return CountedText(pace_.Share() / gapSeconds, 1, kRequestsUpTo);
}
