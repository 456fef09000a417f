#include "net/fetch_worker.h"

#include "net/fetch_client.h"
#include "site/requests.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

bool BlankBody(const QByteArray& body) {
    for (const char byte : body) {
        if (static_cast<unsigned char>(byte) > 32)
            return false;
    }
    return true;
}

} // namespace

// What one attempt came to. A worker copies the last attempt's outcome into
// its fields (result, statusText, failure, html) in Record, and only there.
struct TScrapingThread2::Attempt {
    enum class Kind { Success, Failure, Stopped };
    Kind kind = Kind::Failure;
    FetchFailure failure = FetchFailure::None;
    QString statusText;
    QByteArray body;
    bool final = false;                     // no attempt follows (a 404)
    std::optional<net::FetchError> trouble; // the next attempt waits after it
};

void TScrapingThread2::Record(Attempt& attempt) {
    result = attempt.kind == Attempt::Kind::Success ? 1 : -1;
    statusText = std::move(attempt.statusText);
    failure = attempt.failure;
    html = std::move(attempt.body);
}

void TScrapingThread2::Execute() {
    // Every way out passes through the hand-over, then releases the client.
    // A client from the lists' pool goes back there first, unless its last
    // request failed: the next worker goes on with its connection.
    std::unique_ptr<net::FetchClient> client;
    std::exception_ptr escaped;
    try {
        client =
            Lists ? Lists->Clients().Take(settings) : std::make_unique<net::FetchClient>(settings);
        RunAttempts(*client);
    } catch (const std::exception& error) {
        escaped = std::current_exception();
        if (result == 0 && statusText.isEmpty()) {
            // The client could not even be built: report it as a failure.
            Attempt failed;
            failed.failure = FetchFailure::NoAnswer;
            failed.statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
            Record(failed);
        }
    } catch (...) {
        escaped = std::current_exception();
    }
    if (Lists && client && !escaped && client->KeepsConnections())
        Lists->Clients().Give(std::move(client));
    HandOver();
    client.reset();
    if (escaped)
        std::rethrow_exception(escaped); // the thread base reports it
}

// One GET or POST. A failure closes the connection, so that the next attempt
// starts on a new one.
TScrapingThread2::Attempt TScrapingThread2::TryOnce(net::FetchClient& client, bool search,
                                                    const QByteArray& searchBody) {
    Attempt attempt;
    try {
        attempt.body = search ? client.Post(searchBody) : client.Get(url);
        if (Terminated()) {
            attempt.kind = Attempt::Kind::Stopped; // a stopped worker keeps no body
            return attempt;
        }
        if (!BlankBody(attempt.body)) {
            attempt.kind = Attempt::Kind::Success;
            attempt.statusText = QStringLiteral("успешно");
            return attempt;
        }
        attempt.statusText = QStringLiteral("ERROR_Empty response1 for ") + url;
        attempt.failure = FetchFailure::EmptyBody;
    } catch (const net::FetchError& error) {
        attempt.statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
        attempt.failure = !error.Answered()     ? FetchFailure::NoAnswer
                          : error.status == 404 ? FetchFailure::NotFound
                                                : FetchFailure::ErrorStatus;
        attempt.final = error.status == 404;
        if (SiteInTrouble(error.kind, error.status))
            attempt.trouble = error;
    } catch (const std::exception& error) {
        attempt.statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
        attempt.failure = FetchFailure::NoAnswer;
    }
    client.CloseConnection();
    return attempt;
}

void TScrapingThread2::RunAttempts(net::FetchClient& client) {
    result = 0;
    const bool search = IsSearchRequest(url);
    const QByteArray searchBody = search ? SearchPostBody(url) : QByteArray();
    for (int attempt = 1;; ++attempt) {
        html.clear();
        if (Terminated())
            return;
        Attempt outcome = TryOnce(client, search, searchBody);
        if (outcome.kind == Attempt::Kind::Stopped)
            return;
        const bool lastAttempt = outcome.final || attempt >= settings.maxAttempts;
        const std::optional<net::FetchError> trouble = std::move(outcome.trouble);
        const bool succeeded = outcome.kind == Attempt::Kind::Success;
        Record(outcome);
        if (succeeded)
            return;
        if (trouble && !Terminated()) {
            const std::chrono::milliseconds wait = TroubleWaitFor(*trouble);
            if (!lastAttempt) {
                waits.push_back(wait);
                if (!WaitUnlessTerminated(wait))
                    return; // stopped while waiting
            }
        }
        if (lastAttempt)
            return;
    }
}

// The wait after this trouble failure; a failure that asks the run to wait
// for the host is reported to the shared back-off with it, also after the
// last attempt (the site is in trouble all the same).
std::chrono::milliseconds TScrapingThread2::TroubleWaitFor(const net::FetchError& error) {
    const std::chrono::milliseconds wait = TroubleWait(
        ++troubles_, error.retryAfterSeconds, settings.waits, JitterRandom(settings.waits));
    const std::optional<BackoffCause> cause = HostBackoffCause(error.kind, error.status);
    if (cause && Backoff)
        Backoff->Report(WorkItemHost(url, settings.apiHost), *cause, wait,
                        HostBackoff::Clock::now());
    return wait;
}

// Exactly once: the reference to the lists is given up in the same step, so
// that lists abandoned by a stopped run are freed with their last worker.
void TScrapingThread2::HandOver() {
    const std::shared_ptr<WorkerLists> lists = std::move(Lists);
    if (lists)
        lists->HandOver(std::static_pointer_cast<TScrapingThread2>(shared_from_this()));
}
