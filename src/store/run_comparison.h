#pragma once
// Comparing a run with the earlier one of the same settings: which cards are
// new, changed, unchanged or gone, and the log line that says so. Pure: the
// card store supplies what each run did with each card.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

// What a run did with a card, as the store records it.
enum class CardOutcome : std::uint8_t {
    Found = 0,     // collected; not downloaded (yet), or its download failed
    Unchanged = 1, // row written, the values the store held before
    Changed = 2,   // row written, some values differ from those held before
    First = 3,     // row written, the store held no values for it before
    Gone = 4,      // its page answered 404
};

constexpr int kCardColumns = 10; // the values after the URL

struct RunCard {
    std::int64_t card = 0;
    CardOutcome outcome = CardOutcome::Found;
    // Bit i: value i after the URL (the result file's column order) changed.
    std::uint16_t changed = 0;
};

enum class ChangeStatus : std::uint8_t { New, Changed, Gone };

struct CardChange {
    std::int64_t card = 0;
    ChangeStatus status = ChangeStatus::New;
    std::uint16_t changed = 0; // for Changed: which values

    bool operator==(const CardChange&) const = default;
};

struct RunComparison {
    std::int64_t fresh = 0;
    std::int64_t changed = 0;
    std::int64_t unchanged = 0;
    std::int64_t gone = 0;
    bool goneCounted = false; // only a complete run counts what is gone
    // New cards, then changed ones, then gone ones; each kind in card order.
    std::vector<CardChange> changes;
};

// Compares this run's cards with the earlier run's (any order; each card at
// most once per run). A card this run wrote a row for is new when the earlier
// run did not find it or the store held no values for it, else changed or
// unchanged. A card the earlier run found alive (not 404) is gone when this
// run did not find it or got 404 for it; counted only when this run is
// `complete`. A card whose download failed for another reason is none of
// these.
RunComparison CompareRuns(std::vector<RunCard> current, std::vector<RunCard> earlier,
                          bool complete);

// "Сравнение со сбором от DD.MM.YYYY HH:MM: новых N, изменилось M, без
// изменений U, пропало G" (the time in local time), or the incomplete
// variant.
QString ComparisonLine(const RunComparison& comparison, const QDateTime& earlierStart);
// There was no earlier complete run with the same settings.
QString NoEarlierRunLine();

// The status column's text: "новая", "изменилась", "пропала".
QString StatusText(ChangeStatus status);
// The names of the changed columns, in column order, joined by ", ".
QString ChangedColumnsText(std::uint16_t changed);
