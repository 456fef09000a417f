#pragma once
// What phase 1 does with one successful response: queue the next page request
// (or note that the pair's list has ended), collect the page's card URLs
// without duplicates, and count them.

#include "run/seen_set.h"

#include <QString>
#include <QStringList>

#include <vector>

struct ResponseOutcome {
    // Log lines in the order they are to be posted: the next-page or
    // end-of-list line (when there is one), then the count line.
    std::vector<QString> logLines;
    // The number of entries in the card queue afterwards.
    int firmscounter = 0;
    // Card URLs this response added.
    int newCards = 0;
};

// Handles the response of `item` (a listing URL or a search request body).
// The next page's request is queued only when it is not in `queued` already
// (a site that repeats a page token would otherwise be paged forever); a
// repeated one ends the pair's list like a page without a token. Throws
// std::runtime_error (UTF-8 message) when a listing page's category index is
// not an integer or lies outside `categoryIds`; nothing has been queued or
// collected for this response then.
ResponseOutcome HandleListingResponse(const QString& item, const QString& response,
                                      const QString& webHost, const QStringList& categoryIds,
                                      WorkQueue& listingQueue, QueuedSearches& queued,
                                      UrlQueue& cardQueue, SeenSet& seen);

// The city key in a listing page's state; empty when the page has none.
QString ListingCityKey(QStringView page);

// The card URLs of a listing page (or of any response holding "<html"), in
// page order, duplicates included: the JSON-LD blocks after "Все эксперты</a>"
// and before the notice that filters were dropped. Blocks that share one card
// list share the URL's text. Linear in the page's length.
std::vector<QString> CardUrlsFromPage(QStringView page);

// The card URLs of a JSON search response: one per element of its
// "resources" array; none when it does not parse or has no such array.
// Consecutive equal URLs share one text.
std::vector<QString> CardUrlsFromSearchResponse(QStringView response, const QString& webHost);
