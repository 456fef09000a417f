#pragma once
// The two worker lists of one phase and the lock that guards them. Started
// workers stay in RunningList until each moves itself into FinishedList after
// its last attempt; the run takes them out of FinishedList in the order they
// finished. Every access to either list holds WorkerListsLock, and only for
// that access: the lock is never held across a request, a notification, a
// sleep, the start of a thread or the wait for one. The phase's workers also
// pass their idle clients on to each other here.

#include "net/client_pool.h"

#include <QString>

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

class TScrapingThread2;

class WorkerLists : public std::enable_shared_from_this<WorkerLists> {
public:
    // Adds `worker` (created, not started) to RunningList, gives it `item` and
    // these lists, and starts it. A worker that cannot be started is taken
    // out again and the error is raised.
    void Start(const std::shared_ptr<TScrapingThread2>& worker, const QString& item);

    // The worker that finished earliest, taken out of FinishedList; null when
    // none has.
    std::shared_ptr<TScrapingThread2> TakeFinished();

    std::size_t RunningCount() const;
    std::size_t FinishedCount() const;
    // Nothing running and nothing finished left to take.
    bool Idle() const;
    // Asks every worker still running to end (a stop); nobody waits for them.
    void TerminateRunning();

    // The worker's own move at the end of its work, made once: out of
    // RunningList (if it is there) and onto the end of FinishedList.
    void HandOver(const std::shared_ptr<TScrapingThread2>& worker);

    // The idle clients of this phase's workers (it has a lock of its own).
    ClientPool& Clients() { return clients_; }

private:
    ClientPool clients_;
    mutable std::mutex WorkerListsLock;
    std::deque<std::shared_ptr<TScrapingThread2>> RunningList;
    std::deque<std::shared_ptr<TScrapingThread2>> FinishedList;
};
