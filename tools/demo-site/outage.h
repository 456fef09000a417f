#pragma once
// The demo site's outage (--outage AT:SECONDS): from AT seconds after the
// start, both listeners are closed for SECONDS seconds, so that connections
// are refused, and then opened again on the same ports.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace demo {

struct OutageTimes {
    int at = 0;      // seconds after the start
    int seconds = 0; // how long it lasts
};

// "AT:SECONDS", both whole numbers, SECONDS above 0; nothing when malformed.
std::optional<OutageTimes> ParseOutage(const std::string& text);

// Runs one outage on a thread of its own: `close` at AT, `open` SECONDS
// later. Destruction cancels what has not happened yet and waits for the
// thread (an outage cut short leaves the listeners as `close` left them).
class Outage {
public:
    Outage(OutageTimes times, std::function<void()> close, std::function<void()> open);
    ~Outage();
    Outage(const Outage&) = delete;
    Outage& operator=(const Outage&) = delete;

private:
    bool sleep(int seconds); // false when cancelled

    std::mutex mutex_;
    std::condition_variable cancelled_;
    bool cancel_ = false;
    std::thread thread_;
};

} // namespace demo
