#include "net/client_pool.h"

#include "net/fetch_client.h"

#include <utility>

ClientPool::ClientPool(std::size_t most) : most_(most) {}

ClientPool::~ClientPool() = default;

std::unique_ptr<net::FetchClient> ClientPool::Take(const FetchSettings& settings) {
    std::unique_ptr<net::FetchClient> client;
    {
        std::lock_guard lock(mutex_);
        // The most recent first: its connection is the least likely to have
        // been closed by the site for being idle.
        for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
            if ((*it)->Serves(settings)) {
                client = std::move(*it);
                idle_.erase(std::next(it).base());
                break;
            }
        }
    }
    if (client) {
        client->Renew();
        return client;
    }
    return std::make_unique<net::FetchClient>(settings);
}

void ClientPool::Give(std::unique_ptr<net::FetchClient> client) {
    std::unique_ptr<net::FetchClient> closed; // closed after the lock is released
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(client));
    if (idle_.size() > most_) {
        closed = std::move(idle_.front());
        idle_.pop_front();
    }
}

std::size_t ClientPool::IdleCount() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}
