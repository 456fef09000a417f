// The comparison rules on plain run records, without a database.

#include "store/run_comparison.h"

#include <gtest/gtest.h>

void PrintTo(const CardChange& change, std::ostream* os) {
    *os << "{" << change.card << ", " << static_cast<int>(change.status) << ", " << change.changed
        << "}";
}

namespace {

using O = CardOutcome;
using S = ChangeStatus;

struct Case {
    const char* what;
    std::vector<RunCard> current;
    std::vector<RunCard> earlier;
    bool complete;
    // new, changed, unchanged, gone
    std::array<std::int64_t, 4> counts;
    std::vector<CardChange> changes;
};

TEST(CompareRuns, FollowsTheRulesForEveryKindOfCard) {
    const std::vector<Case> cases = {
        {"a card the earlier run did not find is new",
         {{1, O::Unchanged, 0}, {2, O::First, 0}},
         {},
         true,
         {2, 0, 0, 0},
         {{1, S::New, 0}, {2, S::New, 0}}},
        {"a card found before but never stored with values is new",
         {{1, O::First, 0}},
         {{1, O::Found, 0}},
         true,
         {1, 0, 0, 0},
         {{1, S::New, 0}}},
        {"changed and unchanged cards of both runs",
         {{1, O::Changed, 0b100000}, {2, O::Unchanged, 0}},
         {{1, O::Unchanged, 0}, {2, O::Changed, 1}},
         true,
         {0, 1, 1, 0},
         {{1, S::Changed, 0b100000}}},
        {"found before, not now: gone in a complete run",
         {{2, O::Unchanged, 0}},
         {{1, O::Unchanged, 0}, {2, O::Unchanged, 0}},
         true,
         {0, 0, 1, 1},
         {{1, S::Gone, 0}}},
        {"404 now for a card alive before: gone",
         {{1, O::Gone, 0}},
         {{1, O::First, 0}},
         true,
         {0, 0, 0, 1},
         {{1, S::Gone, 0}}},
        {"404 in both runs, or only now for a card never seen alive: not gone again",
         {{1, O::Gone, 0}, {2, O::Gone, 0}},
         {{1, O::Gone, 0}},
         true,
         {0, 0, 0, 0},
         {}},
        {"an incomplete run counts no gone card, by either rule",
         {{1, O::Gone, 0}, {3, O::Changed, 2}, {4, O::Unchanged, 0}},
         {{1, O::Unchanged, 0}, {2, O::Unchanged, 0}, {3, O::Unchanged, 0}},
         false,
         {1, 1, 0, 0},
         {{4, S::New, 0}, {3, S::Changed, 2}}},
        {"a download that failed otherwise is none of the four",
         {{1, O::Found, 0}, {2, O::Found, 0}},
         {{1, O::Unchanged, 0}},
         true,
         {0, 0, 0, 0},
         {}},
        {"changes list new, then changed, then gone, each in card order",
         {{9, O::First, 0}, {7, O::Changed, 1}, {3, O::First, 0}, {5, O::Changed, 8}},
         {{8, O::Unchanged, 0}, {7, O::Unchanged, 0}, {5, O::Unchanged, 0}, {6, O::First, 0}},
         true,
         {2, 2, 0, 2},
         {{3, S::New, 0},
          {9, S::New, 0},
          {5, S::Changed, 8},
          {7, S::Changed, 1},
          {6, S::Gone, 0},
          {8, S::Gone, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunComparison result = CompareRuns(c.current, c.earlier, c.complete);
        EXPECT_EQ((std::array<std::int64_t, 4>{result.fresh, result.changed, result.unchanged,
                                               result.gone}),
                  c.counts);
        EXPECT_EQ(result.goneCounted, c.complete);
        EXPECT_EQ(result.changes, c.changes);
    }
}

TEST(ComparisonLine, SaysTheCountsOrWhyGoneIsNotCounted) {
    const QDateTime start(QDate(2026, 3, 7), QTime(9, 5, 59), Qt::LocalTime);
    RunComparison comparison;
    comparison.fresh = 12;
    comparison.changed = 3;
    comparison.unchanged = 1500;
    comparison.gone = 0;
    comparison.goneCounted = true;
    EXPECT_EQ(ComparisonLine(comparison, start).toStdString(),
              "Сравнение со сбором от 07.03.2026 09:05: новых 12, изменилось 3, без изменений "
              "1500, пропало 0");
    comparison.goneCounted = false;
    EXPECT_EQ(ComparisonLine(comparison, start).toStdString(),
              "Сравнение со сбором от 07.03.2026 09:05: новых 12, изменилось 3, без изменений "
              "1500, пропало — не считаем: сбор неполный");
    EXPECT_EQ(NoEarlierRunLine().toStdString(),
              "Прошлого сбора с такими настройками нет, сравнивать не с чем");
}

} // namespace
