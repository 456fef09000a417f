#pragma once
// Warns once when the site's pages seem to have changed their markup: the
// last 50 rows mostly lack a value every card has, or a listing page answered
// without anything the run reads from it.

#include "site/card_extractor.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <vector>

// The rows looked at, and how many of them must lack a value.
constexpr int kLayoutWindowRows = 50;
constexpr int kLayoutAlarmRows = 40;

// Whether `page`, the answer to `item`, is a listing page (not a search
// answer) with neither a city key nor a card URL.
bool ListingPageUnreadable(const QString& item, QStringView page);

class LayoutWatch {
public:
    // A row was written for `card`. Once at least kLayoutWindowRows rows are
    // written, after every row: a warning line for each watched column
    // (Имя/Название, Категории специализации, Город) empty in at least
    // kLayoutAlarmRows of the last kLayoutWindowRows rows, once per column.
    std::vector<QString> RowWritten(const CardRecord& card);

    // A listing item answered with `page`: the warning line the first time
    // the page is unreadable, else an empty text.
    QString ListingAnswered(const QString& item, QStringView page);

private:
    static constexpr int kWatched = 3;
    // One bit per watched column for each of the last rows, oldest first
    // from next_ on.
    std::array<std::uint8_t, kLayoutWindowRows> window_{};
    int next_ = 0;
    std::int64_t rows_ = 0;
    std::array<int, kWatched> empty_{};
    std::array<bool, kWatched> warned_{};
    bool listingWarned_ = false;
};
