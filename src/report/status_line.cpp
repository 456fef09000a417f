#include "report/status_line.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

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
