#pragma once
// The wait before a fetch worker's next attempt: which failures say that the
// site (not the card) is in trouble, how long the worker waits after one, and
// which of them ask the whole run to wait for the host.

#include "net/host_backoff.h"

#include <chrono>
#include <functional>
#include <optional>

// How an attempt's request failed.
enum class FailureKind {
    Answered, // an answer with an error status
    Refused,  // the connection was refused
    Dropped,  // reset, closed before the answer was complete, TLS handshake cut
    TimedOut, // the connect or the read time-out
    Other,    // a certificate refused, a name not resolved, a body over the limit, ...
};

struct RetryWaitSettings {
    std::chrono::milliseconds first{1000}; // after the first trouble failure; doubles after each
    std::chrono::milliseconds most{30000}; // where the doubling stops
    std::chrono::milliseconds retryAfterMost{600000}; // the longest Retry-After obeyed
    // Numbers in [0, 1) for the jitter; empty: a generator of the thread's own.
    std::function<double()> random;
};

// Whether a failure says the site is in trouble: refused, dropped, timed
// out, or an answer 429, 502, 503 or 504. Only these wait before the next
// attempt; every other failure is retried at once.
bool SiteInTrouble(FailureKind kind, long status);

// Whether a failure asks the run to start nothing new for the host: 429,
// 503, or a refused connection.
std::optional<BackoffCause> HostBackoffCause(FailureKind kind, long status);

// The wait after a worker's `n`-th trouble failure (n from 1). With a
// Retry-After of `retryAfterSeconds` (above 0) it is that, at most
// retryAfterMost. Otherwise first * 2^(n-1), at most `most`, shortened by
// `random` (in [0, 1)) times a fifth, so that workers that failed together do
// not come back together; the jitter never makes a wait longer.
std::chrono::milliseconds TroubleWait(int n, long retryAfterSeconds,
                                      const RetryWaitSettings& settings, double random);

// A number in [0, 1) from `settings.random`, or from a generator of the
// calling thread's own.
double JitterRandom(const RetryWaitSettings& settings);
