#include "app/batch_status.h"

#include <chrono>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char kEraseLine[] = "\r\x1b[K";
constexpr std::int64_t kSampleEveryMs = 250;

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int TerminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

void BatchProgress::Update(const StatusFigures& figures, std::int64_t nowMs) {
    if (mode_ == Mode::Off)
        return;
    if (!firstSeen_)
        firstSeen_ = nowMs;
    const bool newPhase = figures.phase != phase_;
    if (newPhase) {
        phase_ = figures.phase;
        rate_.Clear();
    }
    if (newPhase || nowMs - lastSample_ >= kSampleEveryMs) {
        rate_.Add(nowMs, figures.done);
        lastSample_ = nowMs;
    }
    const std::optional<double> perSecond = rate_.PerSecond();
    if (mode_ == Mode::Live) {
        if (newPhase || !lastWrite_ || nowMs - *lastWrite_ >= kLiveEveryMs) {
            lastWrite_ = nowMs;
            shown_ = Shown{figures, perSecond};
            Draw();
        }
        return;
    }
    // Lines: the first a minute after the run's first figures.
    if (nowMs - lastWrite_.value_or(*firstSeen_) >= kLinesEveryMs) {
        lastWrite_ = nowMs;
        write_((StatusLineText(figures, perSecond) + QLatin1Char('\n')).toUtf8());
    }
}

void BatchProgress::Update(const StatusFigures& figures) {
    Update(figures, SteadyMs());
}

// The width is asked afresh each time: the terminal may have been resized.
void BatchProgress::Draw() {
    const int columns = columns_ ? columns_() : 0;
    const int width = columns > 0 ? columns : kAssumedColumns;
    // A line as long as the width wraps on most terminals.
    const QString text = StatusLineText(shown_->figures, shown_->perSecond, width - 1);
    write_(QByteArray("\r") + text.toUtf8() + QByteArray("\x1b[K"));
}

void BatchProgress::BeforeLogLine() {
    if (mode_ == Mode::Live && shown_)
        write_(QByteArray(kEraseLine));
}

void BatchProgress::AfterLogLine() {
    if (mode_ == Mode::Live && shown_)
        Draw();
}

void BatchProgress::Finish() {
    if (mode_ == Mode::Live && shown_)
        write_(QByteArray(kEraseLine));
    shown_.reset();
}

BatchProgress StandardErrorStatus(bool quiet) {
    return BatchProgress(
        quiet ? BatchProgress::Mode::Off
              : (::isatty(STDERR_FILENO) != 0 ? BatchProgress::Mode::Live
                                              : BatchProgress::Mode::Lines),
        [](const QByteArray& bytes) {
            std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
            std::fflush(stderr);
        },
        [] { return TerminalColumns(STDERR_FILENO); });
}
