#pragma once
// The fetch worker: one thread per work item of a run. It GETs a URL, or
// POSTs a search request body to the API host, with up to ten attempts,
// leaves the outcome in its fields and then moves itself from RunningList to
// FinishedList under WorkerListsLock.
//
// How the run uses a worker:
//   auto worker = std::make_shared<TScrapingThread2>();   // created suspended
//   { std::lock_guard lock(WorkerListsLock()); running->push_back(worker); }
//   worker->url = item; worker->RunningList = running; worker->FinishedList = finished;
//   worker->Start();
// Later, under the lock, it finds the worker in *finished, takes it out and
// reads url, result, html and statusText. After Start the run must not read
// or write the worker's RunningList/FinishedList: the worker drops them after
// its hand-over so that lists abandoned by a stopped run are freed.

#include "core/config.h"
#include "core/thread_base.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <deque>
#include <memory>
#include <mutex>

namespace net {
class FetchClient;
}
class TScrapingThread2;
using WorkerList = std::deque<std::shared_ptr<TScrapingThread2>>;

// Guards every RunningList and FinishedList of the process; hold it only for
// the list access itself.
std::mutex& WorkerListsLock();

// The worker's client settings; the defaults are the program's. Tests shorten
// the time-outs and the body limit.
struct FetchSettings {
    int connectTimeoutMs = 30000; // connection with its TLS handshake
    int readTimeoutMs = 30000;    // the longest wait for the next data
    int maxAttempts = 10;
    int maxRedirects = 14; // followed per request; the next redirect answer is final
    qint64 maxBodyBytes = 64LL * 1024 * 1024; // after inflation
    QString apiHost = Config().ApiHost;       // search requests go here
    QString caFile = Config().CaFile;         // extra trusted CAs (PEM); empty: system only
};

// A work item is a search request body when it begins with {"filter"; anything
// else is a URL to GET.
bool IsSearchRequest(QStringView item);

// The bytes posted for a search request: trimmed of characters of code 32 and
// below at both ends, line breaks replaced by "&", every UTF-16 code unit at
// or above U+0080 sent as "?".
QByteArray SearchPostBody(const QString& item);

class TScrapingThread2 : public TThread {
public:
    QString url; // the work item; never changed by the worker
    std::shared_ptr<WorkerList> RunningList;
    std::shared_ptr<WorkerList> FinishedList;
    int result = 0;     // 0 until an attempt ended, then 1 success / -1 failure
    QByteArray html;    // body bytes of the last attempt; decode with StreamToText
    QString statusText; // "успешно", or the failure text of the last failed attempt
    FetchSettings settings;

protected:
    void Execute() override;

private:
    void RunAttempts(net::FetchClient& client);
    void HandOver();
};
