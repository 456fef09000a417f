// A phase-1 response handled as the run handles it: once for a listing-URL
// item and once for a search-request item (with a service filter), over the
// same queues and seen set. The card URLs of the response, read as a page and
// as a search response, must be those of the earlier straightforward readings,
// and a fresh run must queue the cards those give.
#include "fuzz_support.h"
#include "reference_readers.h"

#include "site/listing_handler.h"
#include "site/requests.h"

#include <QStringList>

#include <stdexcept>

namespace {

const QString kWebHost = QStringLiteral("127.0.0.1:8443");
const QStringList kCategoryIds = {QStringLiteral("6280"), QStringLiteral("de49d868ea1e029a"),
                                  QStringLiteral("50043")};
const QString kListingItem =
    ListingUrl(kWebHost, QStringLiteral("santehniki"), PercentEncodeCity(QStringLiteral("Москва")));
const QString kSearchItem =
    SearchRequestBody(kCategoryIds[1], QStringLiteral("e0301bba8a9c5b4cb2d9cf95"),
                      QStringLiteral("svc-7"), QStringLiteral("pt_1"));

struct Phase1 {
    WorkQueue listing;
    QueuedSearches queued;
    UrlQueue cards;
    SeenSet seen;

    // Handles the response; false when it raised the documented error.
    bool Handle(const QString& item, const QString& response, ResponseOutcome& outcome) {
        const std::size_t listingBefore = listing.size();
        const std::size_t cardsBefore = cards.size();
        const std::size_t seenBefore = seen.size();
        try {
            CardQueueCollector collector(cards, seen);
            outcome = HandleListingResponse(item, response, kWebHost, kCategoryIds, listing, queued,
                                            collector);
        } catch (const std::runtime_error&) {
            // Nothing queued or collected for a response that raised.
            FUZZ_CHECK(listing.size() == listingBefore);
            FUZZ_CHECK(cards.size() == cardsBefore && seen.size() == seenBefore);
            return false;
        }
        FUZZ_CHECK(listing.size() <= listingBefore + 1);
        if (listing.size() > listingBefore)
            FUZZ_CHECK(IsSearchRequest(listing.back()) && ContainsSearchFilter(listing.back()));
        // Every card URL queued is new to the set and now in it, once.
        FUZZ_CHECK(cards.size() - cardsBefore == seen.size() - seenBefore);
        for (std::size_t i = cardsBefore; i < cards.size(); ++i)
            FUZZ_CHECK(seen.Contains(cards[i]));
        FUZZ_CHECK(outcome.newCards == static_cast<int>(cards.size() - cardsBefore));
        FUZZ_CHECK(outcome.firmscounter == static_cast<int>(cards.size()));
        FUZZ_CHECK(!outcome.logLines.empty() && outcome.logLines.size() <= 2);
        FUZZ_CHECK(outcome.logLines.back() ==
                   QStringLiteral("Найдено %1 новых карточек на странице").arg(outcome.newCards));
        return true;
    }
};

void CheckAgainstReferences(const QString& response) {
    const std::vector<QString> pageUrls = CardUrlsFromPage(response);
    const std::vector<QString> expectedPageUrls = reference::CardUrlsFromPage(response);
    FUZZ_CHECK(pageUrls.size() == expectedPageUrls.size());
    for (std::size_t i = 0; i < pageUrls.size(); ++i) {
        FUZZ_CHECK(pageUrls[i] == expectedPageUrls[i]);
        FUZZ_CHECK(pageUrls[i].isNull() == expectedPageUrls[i].isNull());
    }
    const std::vector<QString> expectedSearchUrls =
        reference::CardUrlsFromSearchResponse(response, kWebHost);
    FUZZ_CHECK(CardUrlsFromSearchResponse(response, kWebHost) == expectedSearchUrls);

    Phase1 run;
    ResponseOutcome outcome;
    FUZZ_CHECK(run.Handle(kSearchItem, response, outcome));
    FUZZ_CHECK(WorkQueue(run.cards.begin(), run.cards.end()) ==
               reference::QueuedOneByOne(response.contains(u"<html") ? expectedPageUrls
                                                                     : expectedSearchUrls));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString response = BodyText(data, size);
    Phase1 run;
    ResponseOutcome outcome;
    const bool listed = run.Handle(kListingItem, response, outcome);
    run.Handle(kSearchItem, response, outcome);
    // The card URLs depend on the response only: the second pass finds
    // nothing new when the first one collected.
    if (listed)
        FUZZ_CHECK(outcome.newCards == 0);
    for (const QString& url : run.cards)
        FUZZ_CHECK(!run.seen.Insert(url));
    FUZZ_CHECK(run.seen.size() == run.cards.size());
    CheckAgainstReferences(response);
    return 0;
}
