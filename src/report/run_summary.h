#pragma once
// The figures of phase 2 a run sums up at its end: rows written, cards that
// could not be downloaded and why, and how often each column was filled.

#include "net/fetch_worker.h"
#include "site/card_extractor.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// `part` of `whole` as a whole percentage, an exact half rounded up (1 of 8
// gives 13); 0 when `whole` is 0 or less.
int PercentHalfUp(std::int64_t part, std::int64_t whole);

// The ten columns after the URL, in the result file's order.
constexpr int kSummaryColumns = 10;

// The header names of those columns.
const std::array<QString, kSummaryColumns>& ColumnNames();

// What a whole run did, over all its sessions when it was continued: the
// rows its result file holds, the cards that gave none and why, the listing
// pages it could not load, and how often each column was filled.
class RunSummary {
public:
    // A row was written for `card`.
    void RowWritten(const CardRecord& card);
    // A card's download ended without a row; `failure` is what its last
    // attempt met (None counts as no answer).
    void CardFailed(FetchFailure failure);
    // A continued run: the rows its result file held already, with the
    // filled count of each column after the URL, and the cards an earlier
    // session found gone (404).
    void EarlierRows(std::int64_t rows, const std::array<std::int64_t, kSummaryColumns>& filled);
    void EarlierGone(std::int64_t cards);
    // A listing page or search request failed all its attempts: the cards it
    // would have listed are not collected.
    void ListingPageLost() { ++lostPages_; }

    std::int64_t Rows() const { return rows_; }
    std::int64_t Failed() const;
    std::int64_t LostPages() const { return lostPages_; }
    // The cards that gave no row, by what their last attempt met.
    std::int64_t NotFound() const { return notFound_; }
    std::int64_t ErrorStatus() const { return errorStatus_; }
    std::int64_t EmptyBody() const { return emptyBody_; }
    std::int64_t NoAnswer() const { return noAnswer_; }
    // The share of rows with column `column` after the URL filled, as the
    // filled line shows it.
    int FilledPercent(int column) const;

    // The lines the log gets at the end of phase 2: the totals, then the
    // failures by kind when any card failed, the lost listing pages when
    // there are any, then the filled share of every column when there is a
    // row. `found` is the found-cards counter.
    std::vector<QString> Lines(std::int64_t found) const;
    // The lost-pages line alone, when pages were lost (a run that found no
    // card has no other summary).
    std::vector<QString> LostPagesLines() const;

private:
    std::int64_t rows_ = 0;
    std::int64_t notFound_ = 0;
    std::int64_t errorStatus_ = 0;
    std::int64_t emptyBody_ = 0;
    std::int64_t noAnswer_ = 0;
    std::int64_t lostPages_ = 0;
    std::array<std::int64_t, kSummaryColumns> filled_{};
};
