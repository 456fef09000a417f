#include "run/batch_progress.h"

#include "core/config.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
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

// Characters, not UTF-16 units: a terminal gives each one a column.
qsizetype Characters(const QString& text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        count += text[i].isLowSurrogate() ? 0 : 1;
    return count;
}

// The first `count` characters of `text`.
QString FirstCharacters(const QString& text, qsizetype count) {
    qsizetype end = 0;
    for (qsizetype seen = 0; end < text.size(); ++end) {
        if (!text[end].isLowSurrogate() && seen++ == count)
            break;
    }
    return text.left(end);
}

} // namespace

void RateMeter::Add(std::int64_t atMs, std::int64_t done) {
    samples_.emplace_back(atMs, done);
    // Keep the newest sample older than the window, so the span covers it.
    while (samples_.size() > 2 && atMs - samples_[1].first >= kWindowMs)
        samples_.pop_front();
}

std::optional<double> RateMeter::PerSecond() const {
    if (samples_.size() < 2)
        return std::nullopt;
    const std::int64_t spanMs = samples_.back().first - samples_.front().first;
    if (spanMs < 1000)
        return std::nullopt;
    return static_cast<double>(samples_.back().second - samples_.front().second) * 1000.0 /
           static_cast<double>(spanMs);
}

QString DurationText(std::int64_t seconds) {
    const std::int64_t h = seconds / 3600;
    const std::int64_t m = seconds / 60 % 60;
    const std::int64_t s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

std::optional<std::int64_t> SecondsLeft(const StatusFigures& figures,
                                        std::optional<double> perSecond) {
    if (!perSecond || *perSecond <= 0)
        return std::nullopt;
    const std::int64_t left = figures.total > figures.done ? figures.total - figures.done : 0;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(left) / *perSecond));
}

QString StatusLineText(const StatusFigures& figures, std::optional<double> perSecond) {
    return StatusLineText(figures, perSecond, std::numeric_limits<int>::max());
}

QString StatusLineText(const StatusFigures& figures, std::optional<double> perSecond, int columns) {
    const std::optional<std::int64_t> left = SecondsLeft(figures, perSecond);
    const QString dash = QStringLiteral("—");
    const QString phase = figures.phase == 1 ? QStringLiteral("Этап 1, поиск карточек")
                                             : QStringLiteral("Этап 2, скачивание карточек");
    const QString shortPhase = QStringLiteral("Этап %1").arg(figures.phase);
    const QString done = QStringLiteral("%1 из %2").arg(figures.done).arg(figures.total);
    const QString count = QStringLiteral("%1 %2")
                              .arg(figures.phase == 1 ? QStringLiteral("найдено карточек")
                                                      : QStringLiteral("записано строк"))
                              .arg(figures.count);
    const QString rate =
        (perSecond ? QString::number(*perSecond, 'f', 1) : dash) + QStringLiteral("/с");
    const QString timeLeft = QStringLiteral("осталось ") + (left ? DurationText(*left) : dash);

    const auto line = [](const QString& name, const QStringList& parts) {
        return name + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    };
    const QString shapes[] = {
        line(phase, {done, count, rate, timeLeft}),
        line(phase, {done, count, timeLeft}),
        line(phase, {done, timeLeft}),
        line(shortPhase, {done, timeLeft}),
    };
    for (const QString& shape : shapes) {
        if (Characters(shape) <= columns)
            return shape;
    }
    return FirstCharacters(shapes[std::size(shapes) - 1], std::max(columns, 0));
}

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

BatchProgress& BatchStatus() {
    static BatchProgress status(
        !Config().Batch || Config().Quiet
            ? BatchProgress::Mode::Off
            : (::isatty(STDERR_FILENO) != 0 ? BatchProgress::Mode::Live
                                            : BatchProgress::Mode::Lines),
        [](const QByteArray& bytes) {
            std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
            std::fflush(stderr);
        },
        [] { return TerminalColumns(STDERR_FILENO); });
    return status;
}
