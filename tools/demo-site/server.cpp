#include "server.h"

#include "pages.h"
#include "rate_limit.h"
#include "site_model.h"
#include "week_changes.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>
#include <zlib.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace demo {

namespace {

const char* kHtml = "text/html; charset=utf-8";
const char* kJson = "application/json; charset=utf-8";

std::string HttpDate() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buffer;
}

const char* Reason(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 429:
        return "Too Many Requests";
    default:
        return status >= 500 ? "Internal Server Error" : "Error";
    }
}

enum class Coding { Identity, Gzip, Deflate };

// The coding a client accepts, gzip first; "q=0" refuses a coding.
Coding ChooseCoding(const std::string& acceptEncoding) {
    bool gzip = false;
    bool deflate = false;
    std::size_t start = 0;
    while (start <= acceptEncoding.size()) {
        std::size_t end = acceptEncoding.find(',', start);
        if (end == std::string::npos)
            end = acceptEncoding.size();
        std::string item = ToLowerAscii(acceptEncoding.substr(start, end - start));
        item.erase(std::remove_if(item.begin(), item.end(),
                                  [](char ch) { return ch == ' ' || ch == '\t'; }),
                   item.end());
        const std::size_t semicolon = item.find(';');
        const std::string name = item.substr(0, semicolon);
        bool refused = false;
        if (semicolon != std::string::npos) {
            const std::size_t q = item.find("q=", semicolon);
            refused = q != std::string::npos && std::strtod(item.c_str() + q + 2, nullptr) <= 0.0;
        }
        if (!refused && (name == "gzip" || name == "x-gzip"))
            gzip = true;
        if (!refused && name == "deflate")
            deflate = true;
        start = end + 1;
    }
    return gzip ? Coding::Gzip : deflate ? Coding::Deflate : Coding::Identity;
}

// Level 1, as a front-end server compresses by default.
std::string Compress(const std::string& body, Coding coding) {
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, coding == Coding::Gzip ? 31 : 15, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, body.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

// Sets the body, compressed when the request allows it. The body goes out
// through a sized content provider, which the HTTP library sends as it is.
void Send(const httplib::Request& req, httplib::Response& res, std::string body, const char* type) {
    if (body.empty()) {
        res.set_content(std::string(), type);
        return;
    }
    const Coding coding = ChooseCoding(req.get_header_value("Accept-Encoding"));
    if (coding != Coding::Identity) {
        std::string packed = Compress(body, coding);
        if (!packed.empty()) {
            body = std::move(packed);
            res.set_header("Content-Encoding", coding == Coding::Gzip ? "gzip" : "deflate");
        }
    }
    auto shared = std::make_shared<const std::string>(std::move(body));
    res.set_content_provider(shared->size(), type,
                             [shared](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(shared->data() + offset, length);
                             });
}

std::string PathOf(const httplib::Request& req) {
    const std::string& target = req.target.empty() ? req.path : req.target;
    return target.substr(0, target.find('?'));
}

// What the site counts, for tests: requests per kind and per card.
class Stats {
public:
    enum Kind {
        Professionals,
        Listing,
        Card,
        Cities,
        Regions,
        Search,
        SearchRejected,
        NotFound,
        Count
    };

    void add(Kind kind) { counts_[kind].fetch_add(1, std::memory_order_relaxed); }
    void addCard(const std::string& slug) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++cards_[slug];
    }
    // Counts the TLS connection of `ssl` once, at its first request of the
    // site, and whether its handshake resumed an earlier session.
    void countConnection(const SSL* ssl, bool web) {
        static const int mark = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        if (ssl == nullptr || SSL_get_ex_data(ssl, mark) != nullptr)
            return;
        static char counted;
        SSL_set_ex_data(const_cast<SSL*>(ssl), mark, &counted);
        const int host = web ? 0 : 1;
        connections_[host].fetch_add(1, std::memory_order_relaxed);
        if (SSL_session_reused(ssl) == 1)
            resumed_[host].fetch_add(1, std::memory_order_relaxed);
    }
    void reset() {
        for (auto& count : counts_)
            count.store(0);
        for (int host = 0; host < 2; ++host) {
            connections_[host].store(0);
            resumed_[host].store(0);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        cards_.clear();
    }
    // Every card's count, or only the count of `card` (zero when never
    // requested) when it is not empty.
    nlohmann::ordered_json json(const std::string& card) const {
        static const char* kNames[] = {"professionals", "listing", "card",           "cities",
                                       "regions",       "search",  "searchRejected", "notFound"};
        nlohmann::ordered_json doc;
        for (int i = 0; i < Count; ++i)
            doc["requests"][kNames[i]] = counts_[i].load();
        for (int host = 0; host < 2; ++host) {
            auto& connections = doc["connections"][host == 0 ? "web" : "api"];
            connections["tls"] = connections_[host].load();
            connections["resumed"] = resumed_[host].load();
        }
        doc["cards"] = nlohmann::ordered_json::object();
        std::lock_guard<std::mutex> lock(mutex_);
        if (!card.empty()) {
            const auto it = cards_.find(card);
            doc["cards"][card] = it == cards_.end() ? 0 : it->second;
        } else {
            for (const auto& [slug, count] : cards_)
                doc["cards"][slug] = count;
        }
        return doc;
    }

private:
    std::atomic<long> counts_[Count] = {};
    std::atomic<long> connections_[2] = {}; // web, api
    std::atomic<long> resumed_[2] = {};
    mutable std::mutex mutex_;
    std::map<std::string, long> cards_; // bounded by the number of cards
};

class SiteServer {
public:
    SiteServer(const Options& options, const CertFiles& certs)
        : options_(options), site_(options.seed, options.scale, options.faults, options.week),
          pages_(site_), web_(certs.serverCert.c_str(), certs.serverKey.c_str()),
          api_(certs.serverCert.c_str(), certs.serverKey.c_str()), faultHits_(FaultCards().size()) {
        setUp(web_, true);
        setUp(api_, false);
        routeWeb();
        routeApi();
    }

    bool valid() const { return web_.is_valid() && api_.is_valid(); }

    int run() {
        const int webPort = bind(web_, options_.webPort);
        const int apiPort = bind(api_, options_.apiPort);
        if (webPort < 0 || apiPort < 0) {
            std::fprintf(stderr, "demo-site: cannot listen on 127.0.0.1:%d\n",
                         webPort < 0 ? options_.webPort : options_.apiPort);
            return 1;
        }
        webPort_ = webPort;
        apiPort_ = apiPort;
        startListeners();
        std::printf("web=127.0.0.1:%d api=127.0.0.1:%d\n", webPort, apiPort);
        std::fflush(stdout);
        std::unique_ptr<Outage> outage;
        if (options_.outage)
            outage = std::make_unique<Outage>(
                *options_.outage, [this] { closeListeners(); }, [this] { reopenListeners(); });

        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        int code = 0;
        for (;;) {
            const timespec wait{0, 200 * 1000 * 1000};
            if (sigtimedwait(&signals, nullptr, &wait) > 0)
                break;
            if (reopenFailed_.load()) {
                std::fprintf(stderr, "demo-site: cannot listen again after the outage\n");
                code = 1;
                break;
            }
            if (!listenersDown_.load() && (!web_.is_running() || !api_.is_running())) {
                std::fprintf(stderr, "demo-site: a listener stopped unexpectedly\n");
                code = 1;
                break;
            }
        }
        outage.reset(); // an outage under way ends with its listeners as they are
        {
            std::lock_guard<std::mutex> lock(stopMutex_);
            stopping_ = true;
        }
        stopCondition_.notify_all();
        closeListeners();
        return code;
    }

private:
    void startListeners() {
        webThread_ = std::thread([this] { web_.listen_after_bind(); });
        apiThread_ = std::thread([this] { api_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !(web_.is_running() && api_.is_running()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Closes both listening sockets (new connections are refused at once;
    // open ones end at their next request) and waits for their threads.
    void closeListeners() {
        listenersDown_.store(true);
        web_.stop();
        api_.stop();
        if (webThread_.joinable())
            webThread_.join();
        if (apiThread_.joinable())
            apiThread_.join();
    }

    // The end of an outage: the same ports again.
    void reopenListeners() {
        if (bind(web_, webPort_) < 0 || bind(api_, apiPort_) < 0) {
            reopenFailed_.store(true);
            return;
        }
        startListeners();
        listenersDown_.store(false);
    }

    static int bind(httplib::Server& server, int port) {
        if (port == 0)
            return server.bind_to_any_port("127.0.0.1");
        return server.bind_to_port("127.0.0.1", port) ? port : -1;
    }

    void setUp(httplib::Server& server, bool web) {
        const int threads = options_.threads;
        server.new_task_queue = [threads] {
            return new httplib::ThreadPool(static_cast<size_t>(threads));
        };
        // Before any route: the connection is counted at its first request of
        // the site, and requests over the rate limit are answered here.
        server.set_pre_routing_handler(
            [this, web](const httplib::Request& req, httplib::Response& res) {
                if (PathOf(req).rfind("/__demo/", 0) == 0)
                    return httplib::Server::HandlerResponse::Unhandled;
                stats_.countConnection(req.ssl, web);
                if (options_.rateLimit <= 0 || rateLimit_.admit(web ? 0 : 1))
                    return httplib::Server::HandlerResponse::Unhandled;
                res.status = 429;
                res.set_header("Retry-After", std::to_string(RateLimit::kRetryAfter.count()));
                if (web)
                    res.set_content(Pages::errorPage(429), kHtml);
                else
                    res.set_content(Pages::errorJson(429, Reason(429)), kJson);
                return httplib::Server::HandlerResponse::Handled;
            });
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(1000);
        server.set_keep_alive_timeout(5);
        server.set_read_timeout(30);
        server.set_write_timeout(30);
        server.set_payload_max_length(1 << 20);
        server.set_post_routing_handler([web](const httplib::Request& req, httplib::Response& res) {
            // cpp-httplib closes an HTTP/1.0 connection after the answer
            // unless the request's Connection header is exactly "Keep-Alive"
            // (so also for "keep-alive"), without saying so: say it.
            if (req.version == "HTTP/1.0" && req.get_header_value("Connection") != "Keep-Alive")
                res.set_header("Connection", "close");
            res.set_header("Server", "nginx");
            res.set_header("Date", HttpDate());
            res.set_header("Vary", "Accept-Encoding");
            res.set_header("X-Content-Type-Options", "nosniff");
            if (web) {
                res.set_header("Cache-Control", "private, no-cache");
                res.set_header("X-Frame-Options", "SAMEORIGIN");
            } else {
                res.set_header("Cache-Control", "no-store");
                res.set_header("Access-Control-Allow-Origin", "*");
            }
        });
        server.set_error_handler(httplib::Server::HandlerWithResponse(
            [this, web](const httplib::Request&, httplib::Response& res) {
                // Routes set their own bodies, directly or through Send.
                if (!res.body.empty() || res.content_length_ > 0)
                    return httplib::Server::HandlerResponse::Unhandled;
                if (res.status == 404)
                    stats_.add(Stats::NotFound);
                if (web)
                    res.set_content(Pages::errorPage(res.status), kHtml);
                else
                    res.set_content(Pages::errorJson(res.status, Reason(res.status)), kJson);
                return httplib::Server::HandlerResponse::Handled;
            }));
        server.set_exception_handler(
            [web](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
                res.status = 500;
                if (web)
                    res.set_content(Pages::errorPage(500), kHtml);
                else
                    res.set_content(Pages::errorJson(500, "internal error"), kJson);
            });
        if (options_.log) {
            const char* name = web ? "web" : "api";
            server.set_logger([name](const httplib::Request& req, const httplib::Response& res) {
                std::fprintf(stderr, "%s %s %s %s %d %zu\n", name, req.method.c_str(),
                             req.target.c_str(), req.version.c_str(), res.status, res.body.size());
            });
        }
    }

    std::string hostOf(const httplib::Request& req) const {
        const std::string host = req.get_header_value("Host");
        return host.empty() ? "127.0.0.1:" + std::to_string(webPort_) : host;
    }

    void notFound(const httplib::Request& req, httplib::Response& res) {
        res.status = 404;
        Send(req, res, Pages::errorPage(404), kHtml);
        stats_.add(Stats::NotFound);
    }

    // Waits `ms` milliseconds, or less when the site is stopping.
    void pause(int ms) {
        std::unique_lock<std::mutex> lock(stopMutex_);
        stopCondition_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
    }

    // Answers a card request, `step` redirects into the card's chain.
    void serveCard(const httplib::Request& req, httplib::Response& res, const std::string& slug,
                   int step) {
        const auto id = site_.findCard(slug);
        if (!id) {
            notFound(req, res);
            return;
        }
        const Card card = site_.card(*id);
        const std::string host = hostOf(req);
        if (step == 0) {
            stats_.add(Stats::Card);
            stats_.addCard(card.slug);
        }
        if (card.fault) {
            const FaultCard& fault = *card.fault;
            std::atomic<int>& hits = faultHits_[static_cast<std::size_t>(*id - kFaultIdBase)];
            switch (fault.kind) {
            case Fault::NotFound:
                notFound(req, res);
                return;
            case Fault::ErrorThenOk:
                if (step == 0 && hits.fetch_add(1) < fault.count) {
                    res.status = 500;
                    Send(req, res, Pages::errorPage(500), kHtml);
                    return;
                }
                break;
            case Fault::ErrorAlways:
                res.status = 500;
                Send(req, res, Pages::errorPage(500), kHtml);
                return;
            case Fault::EmptyBody:
                res.set_content("", kHtml);
                return;
            case Fault::BlankBody:
                Send(req, res, " \r\n\t \n   \r\n", kHtml);
                return;
            case Fault::Slow:
                pause(options_.slowMs);
                break;
            case Fault::Redirect:
                if (step < fault.count) {
                    const std::string next = "/pro/" + slug + "/hop/" + std::to_string(step + 1);
                    int status = 302;
                    std::string location = next;
                    if (fault.count == 3) {
                        static const int kStatuses[] = {301, 302, 307};
                        status = kStatuses[step];
                        if (step == 1)
                            location = "https://" + host + next;
                    }
                    res.set_redirect(location, status);
                    Send(req, res,
                         "<html><body>Moved: <a href=\"" + location + "\">" + location +
                             "</a></body></html>\n",
                         kHtml);
                    return;
                }
                break;
            case Fault::None:
                break;
            }
        } else if (step > 0) {
            notFound(req, res);
            return;
        }
        res.set_header("Set-Cookie", "_sid=" + std::to_string(Mix(site_.seed(), *id) % 1000000007) +
                                         "; Path=/; Secure; HttpOnly; SameSite=Lax");
        const bool changed = options_.layoutChangeAt >= 0 &&
                             cardPagesServed_.fetch_add(1) >= options_.layoutChangeAt;
        Send(req, res, pages_.cardPage(card, host, changed), kHtml);
    }

    void routeWeb() {
        web_.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
            Send(req, res, pages_.home(hostOf(req)), kHtml);
        });
        web_.Get("/professionals", [this](const httplib::Request& req, httplib::Response& res) {
            stats_.add(Stats::Professionals);
            Send(req, res, pages_.professionals(hostOf(req)), kHtml);
        });
        web_.Get(R"(/professionals/[^/]*/c/.+/probr-0~)", [this](const httplib::Request& req,
                                                                 httplib::Response& res) {
            // Read from the raw target: the city segment is decoded here,
            // byte by byte, so that an encoded "/" stays in the name.
            const std::string path = PathOf(req);
            const std::string prefix = "/professionals/";
            const std::string suffix = "/probr-0~";
            const std::size_t cut = path.find("/c/", prefix.size());
            if (path.compare(0, prefix.size(), prefix) != 0 || cut == std::string::npos ||
                path.size() < cut + 3 + suffix.size()) {
                notFound(req, res);
                return;
            }
            const auto slug = PercentDecode(path.substr(prefix.size(), cut - prefix.size()));
            const auto city =
                PercentDecode(path.substr(cut + 3, path.size() - suffix.size() - cut - 3));
            const int category = slug ? site_.findCategory(*slug) : -1;
            const int row = city ? site_.findRow(*city) : -1;
            if (category < 0 || row < 0) {
                notFound(req, res);
                return;
            }
            if (*slug == options_.failingListing && failListing(row)) {
                res.status = 500;
                Send(req, res, Pages::errorPage(500), kHtml);
                return;
            }
            stats_.add(Stats::Listing);
            res.set_header("Set-Cookie", "_sid=" + std::to_string(row * 100 + category) +
                                             "; Path=/; Secure; HttpOnly; SameSite=Lax");
            Send(req, res, pages_.listing(row, category, hostOf(req)), kHtml);
        });
        web_.Get(R"(/pro/[^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
            const auto slug = PercentDecode(PathOf(req).substr(5));
            if (!slug) {
                notFound(req, res);
                return;
            }
            serveCard(req, res, *slug, 0);
        });
        web_.Get(R"(/pro/[^/]+/hop/\d+)",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     const std::string path = PathOf(req);
                     const std::size_t hop = path.rfind("/hop/");
                     const auto slug = PercentDecode(path.substr(5, hop - 5));
                     const int step = std::atoi(path.c_str() + hop + 5);
                     if (!slug || step <= 0 || step > 1000) {
                         notFound(req, res);
                         return;
                     }
                     serveCard(req, res, *slug, step);
                 });
        web_.Get("/__demo/expected", [this](const httplib::Request& req, httplib::Response& res) {
            Send(req, res,
                 pages_.expected(req.get_param_value("category"), req.get_param_value("city")),
                 kJson);
        });
        web_.Get("/__demo/changes", [this](const httplib::Request& req, httplib::Response& res) {
            Send(req, res, weekChanges(req), kJson);
        });
        web_.Get("/__demo/stats", [this](const httplib::Request& req, httplib::Response& res) {
            nlohmann::ordered_json doc = stats_.json(ToLowerAscii(req.get_param_value("card")));
            doc["rateLimit"] = rateLimit_.json();
            Send(req, res, doc.dump() + "\n", kJson);
        });
        web_.Post("/__demo/reset", [this](const httplib::Request& req, httplib::Response& res) {
            for (auto& hits : faultHits_)
                hits.store(0);
            cardPagesServed_.store(0);
            stats_.reset();
            rateLimit_.reset();
            Send(req, res, "{\"ok\":true}\n", kJson);
        });
    }

    // GET /__demo/changes[?since=M][&category=<slug>...][&city=<row>...]
    std::string weekChanges(const httplib::Request& req) const {
        const auto all = [&](const char* key) {
            std::vector<std::string> values;
            for (std::size_t i = 0; i < req.get_param_value_count(key); ++i)
                values.push_back(req.get_param_value(key, i));
            return values;
        };
        const int since =
            std::clamp(std::atoi(req.get_param_value("since").c_str()), 0, site_.week());
        const Site before(options_.seed, options_.scale, options_.faults, since);
        return WeekChangesJson(
            CompareWeeks(before, site_, SelectPairs(site_, all("category"), all("city"))));
    }

    // Whether this request for the failing category's listing page of `row`
    // fails (--failing-listing).
    bool failListing(int row) {
        if (options_.failingListingTimes < 0)
            return true;
        std::lock_guard<std::mutex> lock(failingMutex_);
        return failingListingHits_[row]++ < options_.failingListingTimes;
    }

    void reject(const httplib::Request& req, httplib::Response& res, const std::string& message) {
        stats_.add(Stats::SearchRejected);
        res.status = 400;
        Send(req, res, Pages::errorJson(400, message), kJson);
    }

    void search(const httplib::Request& req, httplib::Response& res) {
        using Json = nlohmann::json;
        const Json body = Json::parse(req.body, nullptr, false);
        if (body.is_discarded() || !body.is_object()) {
            reject(req, res, "request body is not a JSON object");
            return;
        }
        auto eqText = [&](const char* name) -> const Json* {
            const auto filter = body.find("filter");
            if (filter == body.end() || !filter->is_object())
                return nullptr;
            const auto member = filter->find(name);
            if (member == filter->end() || !member->is_object())
                return nullptr;
            const auto eq = member->find("eq");
            return eq != member->end() && eq->is_string() ? &*eq : nullptr;
        };
        const Json* categoryId = eqText("categoryId");
        const Json* cityId = eqText("cityId");
        if (!categoryId || !cityId) {
            reject(req, res, "filter.categoryId.eq and filter.cityId.eq are required strings");
            return;
        }
        const auto& filter = body["filter"];
        if (filter.contains("serviceId")) {
            const auto& service = filter["serviceId"];
            const bool ok = service.is_object() && service.contains("all") &&
                            service["all"].is_array() &&
                            std::all_of(service["all"].begin(), service["all"].end(),
                                        [](const Json& v) { return v.is_string(); });
            if (!ok) {
                reject(req, res, "filter.serviceId.all must be an array of strings");
                return;
            }
        }
        const auto pageSize = body.find("pageSize");
        if (pageSize == body.end() || !pageSize->is_number_integer() || *pageSize != kPageSize) {
            reject(req, res, "pageSize must be 25");
            return;
        }
        const auto tokenMember = body.find("pageToken");
        int row = 0;
        int category = 0;
        int page = 0;
        if (tokenMember == body.end() || !tokenMember->is_string() ||
            !site_.readPageToken(tokenMember->get<std::string>(), &row, &category, &page)) {
            reject(req, res, "unknown page token");
            return;
        }
        if (categoryId->get<std::string>() !=
                site_.categories()[static_cast<std::size_t>(category)].id ||
            cityId->get<std::string>() != site_.rows()[static_cast<std::size_t>(row)].key) {
            reject(req, res, "page token does not belong to this filter");
            return;
        }
        stats_.add(Stats::Search);
        Send(req, res, pages_.search(row, category, page), kJson);
    }

    void routeApi() {
        api_.Get("/api/v2/reference/cities",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     stats_.add(Stats::Cities);
                     Send(req, res, pages_.cities(), kJson);
                 });
        api_.Get("/api/v2/reference/regions",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     stats_.add(Stats::Regions);
                     Send(req, res, pages_.regions(), kJson);
                 });
        api_.Post(
            "/api/v2/professionals:search",
            [this](const httplib::Request& req, httplib::Response& res) { search(req, res); });
    }

    Options options_;
    Site site_;
    Pages pages_;
    httplib::SSLServer web_;
    httplib::SSLServer api_;
    std::vector<std::atomic<int>> faultHits_;
    std::mutex failingMutex_;
    std::map<int, long> failingListingHits_; // requests per row of the failing listing
    std::atomic<long> cardPagesServed_{0};
    Stats stats_;
    RateLimit rateLimit_{options_.rateLimit};
    int webPort_ = 0;
    int apiPort_ = 0;
    std::thread webThread_;
    std::thread apiThread_;
    std::atomic<bool> listenersDown_{false};
    std::atomic<bool> reopenFailed_{false};
    std::mutex stopMutex_;
    std::condition_variable stopCondition_;
    bool stopping_ = false;
};

} // namespace

int RunSite(const Options& options, const CertFiles& certs) {
    // SIGTERM and SIGINT are taken by the main loop only; every thread
    // started from here inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    SiteServer server(options, certs);
    if (!server.valid()) {
        std::fprintf(stderr, "demo-site: cannot load %s / %s\n", certs.serverCert.c_str(),
                     certs.serverKey.c_str());
        return 1;
    }
    if (options.exitOnStdinEof) {
        std::thread([] {
            char buffer[256];
            while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
            }
            ::kill(::getpid(), SIGTERM);
        }).detach();
    }
    return server.run();
}

} // namespace demo
