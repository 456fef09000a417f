#pragma once
// The two HTTPS listeners of the demo site and their routes.

#include "certs.h"
#include "outage.h"

#include <cstdint>
#include <optional>
#include <string>

namespace demo {

struct Options {
    int webPort = 8443;
    int apiPort = 8444;
    std::string certDir; // empty: demo-site-certs beside the executable
    uint64_t seed = 1;
    int scale = 60;
    bool faults = false;
    int slowMs = 2000;
    int threads = 32; // worker threads per listener
    bool log = false;
    int rateLimit = 0;                 // requests a second per host; 0: no limit
    std::optional<OutageTimes> outage; // both listeners closed for a while
    bool exitOnStdinEof = false;
    // Card pages served after this many are served in the changed layout
    // (Pages::cardPage); -1: never.
    long layoutChangeAt = -1;
    // Listing pages of this category slug answer 500, the first
    // `failingListingTimes` requests of each (-1: every request); empty: none.
    std::string failingListing;
    long failingListingTimes = -1;
};

// Serves until SIGTERM or SIGINT (or end of standard input with
// exitOnStdinEof). Prints the ready line once both listeners accept
// connections. Returns the process exit code.
int RunSite(const Options& options, const CertFiles& certs);

} // namespace demo
