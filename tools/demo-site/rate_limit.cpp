#include "rate_limit.h"

namespace demo {

bool RateLimit::admit(int host) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    bool answered = true;
    if (perSecond_ > 0) {
        const long second = static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(now - start_).count());
        if (window_[host] != second) {
            window_[host] = second;
            answered_[host] = 0;
        }
        answered = answered_[host] < perSecond_;
        if (answered)
            ++answered_[host];
    }
    const bool afterFirstWait = firstWaitEnds_ && now >= *firstWaitEnds_;
    ++all_.requests;
    if (afterFirstWait)
        ++afterFirstWait_.requests;
    if (!answered) {
        ++all_.rateLimited;
        if (afterFirstWait)
            ++afterFirstWait_.rateLimited;
        if (!firstWaitEnds_)
            firstWaitEnds_ = now + kRetryAfter;
    }
    return answered;
}

nlohmann::ordered_json RateLimit::json() const {
    std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::ordered_json doc;
    doc["limit"] = perSecond_;
    doc["requests"] = all_.requests;
    doc["rateLimited"] = all_.rateLimited;
    doc["afterFirstWait"]["requests"] = afterFirstWait_.requests;
    doc["afterFirstWait"]["rateLimited"] = afterFirstWait_.rateLimited;
    return doc;
}

void RateLimit::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    all_ = {};
    afterFirstWait_ = {};
    firstWaitEnds_.reset();
}

} // namespace demo
