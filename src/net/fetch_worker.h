#pragma once
// The fetch worker: one thread per work item of a run. It GETs a URL, or
// POSTs a search request body to the API host, with up to ten attempts,
// leaves the outcome in its fields and then hands itself over: out of its
// phase's RunningList and into its FinishedList (WorkerLists). After a
// failure that says the site is in trouble it waits before the next attempt
// (retry_wait.h) and tells the run's shared back-off (host_backoff.h).
//
// How the run uses a worker:
//   auto worker = std::make_shared<TScrapingThread2>();   // created suspended
//   lists->Start(worker, item);                            // into RunningList, started
// Later lists->TakeFinished() gives it back, and the run reads url, result,
// html and statusText. The worker holds its lists until its hand-over, so
// lists that a stopped run has abandoned stay valid for it.

#include "core/thread_base.h"
#include "net/fetch_settings.h"
#include "net/host_backoff.h"
#include "net/retry_wait.h"
#include "net/worker_lists.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <chrono>
#include <memory>
#include <vector>

namespace net {
class FetchClient;
struct FetchError;
} // namespace net

// What the last failed attempt of a worker met.
enum class FetchFailure {
    None,        // no attempt failed last
    NotFound,    // an answer 404: the card is gone for good
    ErrorStatus, // any other answer with an error status
    EmptyBody,   // an answer with an empty or blank body
    NoAnswer,    // no answer at all: refused, reset, TLS, a time-out
};

class TScrapingThread2 : public TThread {
public:
    // The work item: a URL to GET, or the search request body to POST (the
    // design's name, kept although it is not always a URL). Never changed by
    // the worker.
    QString url;
    // The phase's lists, set by WorkerLists::Start; given up at the hand-over.
    std::shared_ptr<WorkerLists> Lists;
    // 0 until an attempt ended, then 1 success / -1 failure. (The run's own
    // `result` is a text; this one is a number.)
    int result = 0;
    // The body bytes of the last attempt: a page or a JSON answer, despite
    // the design's name. Decode with StreamToText.
    QByteArray html;
    QString statusText; // "успешно", or the failure text of the last failed attempt
    FetchFailure failure = FetchFailure::None; // of the last attempt
    // The waits made before attempts, in order (empty when every retry went
    // out at once).
    std::vector<std::chrono::milliseconds> waits;
    FetchSettings settings;
    // The run's shared back-off, told of 429, 503 and refused connections;
    // none: the worker waits for itself alone.
    std::shared_ptr<HostBackoff> Backoff;

protected:
    void Execute() override;

private:
    struct Attempt;
    Attempt TryOnce(net::FetchClient& client, bool search, const QByteArray& searchBody);
    void Record(Attempt& attempt);
    void RunAttempts(net::FetchClient& client);
    std::chrono::milliseconds TroubleWaitFor(const net::FetchError& error);
    void HandOver();

    int troubles_ = 0; // trouble failures so far: the next wait doubles
};
