// demo-site: a stand-in for the directory site, serving its pages and API
// over HTTPS on loopback. See README.md beside this file.

#include "certs.h"
#include "pages.h"
#include "server.h"
#include "site_model.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const char* kUsage = R"(Usage: demo-site [options]
  --web-port N          port of the web host (HTML pages), default 8443; 0 picks a free one
  --api-port N          port of the API host (JSON), default 8444; 0 picks a free one
  --cert-dir DIR        certificate folder, default demo-site-certs beside the executable
  --seed N              content seed, default 1
  --scale N             cards per city and category pair, default 60
  --faults              switch on the documented fault cards and pages
  --week N              serve the site as it stands N weeks later, 0 to 10, default 0:
                        about 5*N % of each pair's cards new, 5*N % gone, 5*N % changed
  --slow-ms N           delay of the slow fault card, default 2000
  --threads N           worker threads per listener, default 32
  --layout-change AT    serve card pages after the first AT in a changed layout: the
                        categories section loses its data-order="5" marker
  --rate-limit N        answer at most N requests a second per host; the rest get 429
                        with "Retry-After: 1"
  --outage AT:SECONDS   close both listeners (connections refused) from AT seconds after
                        the start for SECONDS seconds
  --failing-listing SLUG[:N]
                        the listing pages of category SLUG answer 500 to their first N
                        requests (every request without N)
  --log                 one line per request on standard error
  --exit-on-stdin-eof   stop when standard input reaches its end
  --dump-expected       print the expected data of the whole site as JSON and exit
  --make-client-cert DIR
                        write DIR/01cert.pem and DIR/01key.pem (pass phrase "quillfen")
                        signed by the CA of --cert-dir, and exit
  --help                show this text
)";

bool ReadNumber(const char* text, long min, long max, long* out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < min || value > max)
        return false;
    *out = value;
    return true;
}

std::string DefaultCertDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "demo-site-certs";
    return (exe.parent_path() / "demo-site-certs").string();
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "demo-site: %s\n%s", message.c_str(), kUsage);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    demo::Options options;
    bool dumpExpected = false;
    std::string clientCertDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](long min, long max, long* out) {
            return i + 1 < argc && ReadNumber(argv[++i], min, max, out);
        };
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--web-port") {
            if (!number(0, 65535, &value))
                return Usage("--web-port needs a port number");
            options.webPort = static_cast<int>(value);
        } else if (arg == "--api-port") {
            if (!number(0, 65535, &value))
                return Usage("--api-port needs a port number");
            options.apiPort = static_cast<int>(value);
        } else if (arg == "--cert-dir") {
            if (i + 1 >= argc)
                return Usage("--cert-dir needs a folder");
            options.certDir = argv[++i];
        } else if (arg == "--seed") {
            if (!number(0, LONG_MAX, &value))
                return Usage("--seed needs a number");
            options.seed = static_cast<uint64_t>(value);
        } else if (arg == "--scale") {
            if (!number(0, 100000, &value))
                return Usage("--scale needs a number from 0 to 100000");
            options.scale = static_cast<int>(value);
        } else if (arg == "--week") {
            if (!number(0, demo::kMaxWeek, &value))
                return Usage("--week needs a number from 0 to 10");
            options.week = static_cast<int>(value);
        } else if (arg == "--faults") {
            options.faults = true;
        } else if (arg == "--slow-ms") {
            if (!number(0, 600000, &value))
                return Usage("--slow-ms needs a number of milliseconds");
            options.slowMs = static_cast<int>(value);
        } else if (arg == "--threads") {
            if (!number(1, 1024, &value))
                return Usage("--threads needs a number from 1 to 1024");
            options.threads = static_cast<int>(value);
        } else if (arg == "--layout-change") {
            if (!number(0, LONG_MAX, &value))
                return Usage("--layout-change needs a number of card pages");
            options.layoutChangeAt = value;
        } else if (arg == "--rate-limit") {
            if (!number(1, 1000000, &value))
                return Usage("--rate-limit needs a number of requests a second");
            options.rateLimit = static_cast<int>(value);
        } else if (arg == "--outage") {
            if (i + 1 >= argc || !(options.outage = demo::ParseOutage(argv[++i])))
                return Usage("--outage needs AT:SECONDS (whole seconds, SECONDS above 0)");
        } else if (arg == "--failing-listing") {
            if (i + 1 >= argc)
                return Usage("--failing-listing needs SLUG or SLUG:N");
            const std::string slugTimes = argv[++i];
            const std::size_t colon = slugTimes.find(':');
            options.failingListing = slugTimes.substr(0, colon);
            if (colon != std::string::npos) {
                char* end = nullptr;
                const long times = std::strtol(slugTimes.c_str() + colon + 1, &end, 10);
                if (end == slugTimes.c_str() + colon + 1 || *end != '\0' || times < 0)
                    return Usage("--failing-listing needs SLUG or SLUG:N");
                options.failingListingTimes = times;
            }
            if (options.failingListing.empty())
                return Usage("--failing-listing needs SLUG or SLUG:N");
        } else if (arg == "--log") {
            options.log = true;
        } else if (arg == "--exit-on-stdin-eof") {
            options.exitOnStdinEof = true;
        } else if (arg == "--dump-expected") {
            dumpExpected = true;
        } else if (arg == "--make-client-cert") {
            if (i + 1 >= argc)
                return Usage("--make-client-cert needs a folder");
            clientCertDir = argv[++i];
        } else {
            return Usage("unknown option " + arg);
        }
    }

    if (dumpExpected) {
        const demo::Site site(options.seed, options.scale, options.faults, options.week);
        const demo::Pages pages(site);
        const std::string text = pages.expected("", "");
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    if (options.certDir.empty())
        options.certDir = DefaultCertDir();
    demo::CertFiles certs;
    std::string error;
    if (!demo::EnsureCertificates(options.certDir, &certs, &error)) {
        std::fprintf(stderr, "demo-site: %s\n", error.c_str());
        return 1;
    }
    if (!clientCertDir.empty()) {
        if (!demo::MakeClientCertificate(certs, clientCertDir, "quillfen", &error)) {
            std::fprintf(stderr, "demo-site: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s/01cert.pem %s/01key.pem\n", clientCertDir.c_str(), clientCertDir.c_str());
        return 0;
    }
    return demo::RunSite(options, certs);
}
