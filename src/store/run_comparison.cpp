#include "store/run_comparison.h"

#include "text/csv_row.h"

#include <QStringList>

#include <algorithm>

namespace {

bool ByCard(const RunCard& a, const RunCard& b) {
    return a.card < b.card;
}

bool Written(CardOutcome outcome) {
    return outcome == CardOutcome::Unchanged || outcome == CardOutcome::Changed ||
           outcome == CardOutcome::First;
}

} // namespace

RunComparison CompareRuns(std::vector<RunCard> current, std::vector<RunCard> earlier,
                          bool complete) {
    std::sort(current.begin(), current.end(), ByCard);
    std::sort(earlier.begin(), earlier.end(), ByCard);
    RunComparison result;
    result.goneCounted = complete;
    std::vector<CardChange> changed;
    std::vector<CardChange> gone;

    // One merge over both runs in card order.
    auto now = current.begin();
    auto before = earlier.begin();
    while (now != current.end() || before != earlier.end()) {
        const bool inNow =
            now != current.end() && (before == earlier.end() || now->card <= before->card);
        const bool inBefore =
            before != earlier.end() && (now == current.end() || before->card <= now->card);
        const std::int64_t card = inNow ? now->card : before->card;
        const bool aliveBefore = inBefore && before->outcome != CardOutcome::Gone;
        if (inNow && Written(now->outcome)) {
            if (!inBefore || now->outcome == CardOutcome::First) {
                ++result.fresh;
                result.changes.push_back({card, ChangeStatus::New, 0});
            } else if (now->outcome == CardOutcome::Changed && now->changed != 0) {
                ++result.changed;
                changed.push_back({card, ChangeStatus::Changed, now->changed});
            } else {
                ++result.unchanged;
            }
        } else if (aliveBefore && complete && (!inNow || now->outcome == CardOutcome::Gone)) {
            ++result.gone;
            gone.push_back({card, ChangeStatus::Gone, 0});
        }
        if (inNow)
            ++now;
        if (inBefore)
            ++before;
    }
    result.changes.insert(result.changes.end(), changed.begin(), changed.end());
    result.changes.insert(result.changes.end(), gone.begin(), gone.end());
    return result;
}

QString ComparisonLine(const RunComparison& comparison, const QDateTime& earlierStart) {
    QString line =
        QStringLiteral("Сравнение со сбором от %1: новых %2, изменилось %3, без изменений %4, ")
            .arg(earlierStart.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")))
            .arg(comparison.fresh)
            .arg(comparison.changed)
            .arg(comparison.unchanged);
    if (comparison.goneCounted)
        line += QStringLiteral("пропало %1").arg(comparison.gone);
    else
        line += QStringLiteral("пропало — не считаем: сбор неполный");
    return line;
}

QString NoEarlierRunLine() {
    return QStringLiteral("Прошлого сбора с такими настройками нет, сравнивать не с чем");
}

QString StatusText(ChangeStatus status) {
    switch (status) {
    case ChangeStatus::New:
        return QStringLiteral("новая");
    case ChangeStatus::Changed:
        return QStringLiteral("изменилась");
    case ChangeStatus::Gone:
        break;
    }
    return QStringLiteral("пропала");
}

QString ChangedColumnsText(std::uint16_t changed) {
    // The names as the result file's header has them, after the URL's.
    static const QStringList names = [] {
        QStringList header = CsvHeader().split(QLatin1Char(';'));
        for (QString& name : header)
            name = name.mid(1, name.size() - 2);
        header.removeFirst();
        return header;
    }();
    QStringList parts;
    for (int i = 0; i < kCardColumns; ++i) {
        if ((changed & (1u << i)) != 0)
            parts << names[i];
    }
    return parts.join(QStringLiteral(", "));
}
