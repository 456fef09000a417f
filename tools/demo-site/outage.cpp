#include "outage.h"

#include <chrono>
#include <cstdlib>

namespace demo {

std::optional<OutageTimes> ParseOutage(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto number = [](const std::string& part, long* out) {
        char* end = nullptr;
        *out = std::strtol(part.c_str(), &end, 10);
        return !part.empty() && *end == '\0' && *out >= 0 && *out <= 86400;
    };
    long at = 0;
    long seconds = 0;
    if (!number(text.substr(0, colon), &at) || !number(text.substr(colon + 1), &seconds) ||
        seconds == 0)
        return std::nullopt;
    return OutageTimes{static_cast<int>(at), static_cast<int>(seconds)};
}

Outage::Outage(OutageTimes times, std::function<void()> close, std::function<void()> open)
    : thread_([this, times, close = std::move(close), open = std::move(open)] {
          if (!sleep(times.at))
              return;
          close();
          if (sleep(times.seconds))
              open();
      }) {}

Outage::~Outage() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancel_ = true;
    }
    cancelled_.notify_all();
    thread_.join();
}

bool Outage::sleep(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cancelled_.wait_for(lock, std::chrono::seconds(seconds), [this] { return cancel_; });
}

} // namespace demo
