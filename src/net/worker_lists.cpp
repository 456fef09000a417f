#include "net/worker_lists.h"

#include "net/fetch_worker.h"

#include <algorithm>

void WorkerLists::Start(const std::shared_ptr<TScrapingThread2>& worker, const QString& item) {
    {
        std::lock_guard lock(WorkerListsLock);
        RunningList.push_back(worker);
    }
    worker->url = item;
    worker->Lists = shared_from_this();
    try {
        worker->Start();
    } catch (...) {
        // A worker that never ran never hands itself over.
        worker->Lists.reset();
        std::lock_guard lock(WorkerListsLock);
        RunningList.erase(std::find(RunningList.begin(), RunningList.end(), worker));
        throw;
    }
}

std::shared_ptr<TScrapingThread2> WorkerLists::TakeFinished() {
    std::lock_guard lock(WorkerListsLock);
    if (FinishedList.empty())
        return nullptr;
    std::shared_ptr<TScrapingThread2> worker = std::move(FinishedList.front());
    FinishedList.pop_front();
    return worker;
}

std::size_t WorkerLists::RunningCount() const {
    std::lock_guard lock(WorkerListsLock);
    return RunningList.size();
}

std::size_t WorkerLists::FinishedCount() const {
    std::lock_guard lock(WorkerListsLock);
    return FinishedList.size();
}

bool WorkerLists::Idle() const {
    std::lock_guard lock(WorkerListsLock);
    return RunningList.empty() && FinishedList.empty();
}

void WorkerLists::TerminateRunning() {
    std::lock_guard lock(WorkerListsLock);
    for (const auto& worker : RunningList)
        worker->Terminate();
}

void WorkerLists::HandOver(const std::shared_ptr<TScrapingThread2>& worker) {
    std::lock_guard lock(WorkerListsLock);
    const auto found = std::find(RunningList.begin(), RunningList.end(), worker);
    if (found != RunningList.end())
        RunningList.erase(found);
    FinishedList.push_back(worker);
}
