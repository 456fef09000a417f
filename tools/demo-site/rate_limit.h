#pragma once
// The demo site's rate limit (--rate-limit N): per host, at most N requests
// are answered in each second, the rest get 429 with "Retry-After: 1"; with
// the counters a test reads from /__demo/stats.

#include <nlohmann/json.hpp>

#include <chrono>
#include <mutex>
#include <optional>

namespace demo {

class RateLimit {
public:
    static constexpr int kHosts = 2; // 0: web, 1: API
    static constexpr std::chrono::seconds kRetryAfter{1};

    explicit RateLimit(int perSecond) : perSecond_(perSecond) {}

    // Whether a request to `host` arriving now is answered (else it gets
    // 429). Counts it either way. Always true without a limit.
    bool admit(int host);

    // {"limit":N,"requests":n,"rateLimited":n,"afterFirstWait":{"requests":n,"rateLimited":n}}:
    // every request subject to the limit and those refused; afterFirstWait
    // counts the ones arriving once the Retry-After of the first 429 is over.
    nlohmann::ordered_json json() const;
    void reset();

private:
    struct Counts {
        long requests = 0;
        long rateLimited = 0;
    };
    using Clock = std::chrono::steady_clock;

    const int perSecond_;
    const Clock::time_point start_ = Clock::now();
    mutable std::mutex mutex_;
    long window_[kHosts] = {-1, -1}; // the second since start each host counts in
    int answered_[kHosts] = {0, 0};  // requests answered in that second
    Counts all_;
    Counts afterFirstWait_;
    std::optional<Clock::time_point> firstWaitEnds_;
};

} // namespace demo
