#pragma once
// The idle fetch clients of one phase's workers. A worker takes a client
// when it starts and gives it back before it hands itself over, so that the
// next worker goes on with its open connection (and skips the connection
// and the TLS handshake) instead of opening one of its own. A client serves
// one worker at a time, is renewed before it serves another (its cookies
// emptied) and only serves workers whose settings it was made with; a
// client whose last request failed is not given back.

#include "net/fetch_settings.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

namespace net {
class FetchClient;
}

class ClientPool {
public:
    // At most `most` idle clients are kept; giving back one more closes the
    // one idle longest.
    explicit ClientPool(std::size_t most = 8);
    ~ClientPool();
    ClientPool(const ClientPool&) = delete;
    ClientPool& operator=(const ClientPool&) = delete;

    // The client given back last among those made with `settings`, renewed;
    // a new one when there is none. Throws std::runtime_error when libcurl
    // refuses a new client.
    std::unique_ptr<net::FetchClient> Take(const FetchSettings& settings);
    // Keeps `client` for a later Take.
    void Give(std::unique_ptr<net::FetchClient> client);

    std::size_t IdleCount() const;

private:
    const std::size_t most_;
    mutable std::mutex mutex_;                           // held only to move a client in or out
    std::deque<std::unique_ptr<net::FetchClient>> idle_; // given back last at the end
};
