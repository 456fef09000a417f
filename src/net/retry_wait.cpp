#include "net/retry_wait.h"

#include <algorithm>
#include <random>

bool SiteInTrouble(FailureKind kind, long status) {
    switch (kind) {
    case FailureKind::Answered:
        return status == 429 || status == 502 || status == 503 || status == 504;
    case FailureKind::Refused:
    case FailureKind::Dropped:
    case FailureKind::TimedOut:
        return true;
    case FailureKind::Other:
        break;
    }
    return false;
}

std::optional<BackoffCause> HostBackoffCause(FailureKind kind, long status) {
    if (kind == FailureKind::Refused)
        return BackoffCause::Refused;
    if (kind == FailureKind::Answered && status == 429)
        return BackoffCause::RateLimited;
    if (kind == FailureKind::Answered && status == 503)
        return BackoffCause::Unavailable;
    return std::nullopt;
}

std::chrono::milliseconds TroubleWait(int n, long retryAfterSeconds,
                                      const RetryWaitSettings& settings, double random) {
    using std::chrono::milliseconds;
    if (retryAfterSeconds > 0) {
        // Compared in seconds first: a huge header value must not overflow.
        if (retryAfterSeconds >= settings.retryAfterMost.count() / 1000)
            return settings.retryAfterMost;
        return milliseconds(retryAfterSeconds * 1000);
    }
    milliseconds wait = settings.first;
    for (int i = 1; i < n && wait < settings.most; ++i)
        wait *= 2;
    wait = std::min(wait, settings.most);
    const double cut = std::clamp(random, 0.0, 1.0) / 5.0;
    return milliseconds(
        static_cast<milliseconds::rep>(static_cast<double>(wait.count()) * (1.0 - cut)));
}

double JitterRandom(const RetryWaitSettings& settings) {
    if (settings.random)
        return settings.random();
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}
