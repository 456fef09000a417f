#pragma once
// The work items of a run: listing URLs, search request bodies and card URLs,
// what is sent for them, and the log line of a finished work item.

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <deque>

// First in, first out: append at the back, take from the front, both O(1)
// without moving what is already queued. Used for ListingQueue and CardQueue.
using WorkQueue = std::deque<QString>;

// Every search request body a run has queued. A page token that the site
// repeats gives a body already in it: that pair's list has ended.
using QueuedSearches = QSet<QString>;

// A work item is a search request body when it begins with {"filter"; anything
// else is a URL to GET.
bool IsSearchRequest(QStringView item);

// The bytes posted for a search request: trimmed of characters of code 32 and
// below at both ends, line breaks replaced by "&", every UTF-16 code unit at
// or above U+0080 sent as "?".
QByteArray SearchPostBody(const QString& item);

// The host a work item goes to, in lower case: `apiHost` for a search
// request, else the URL's host with its port; empty when there is none.
QString WorkItemHost(const QString& item, const QString& apiHost);

// The city row text as a URL path segment: its UTF-8 bytes, ASCII letters and
// digits unchanged, every other byte (space, "-", ".", "_", "~" included) as
// "%" and two upper-case hexadecimal digits.
QString PercentEncodeCity(const QString& rowText);

// The slug of a category row "Name (slug)": the text between its first "("
// and the first ")" after it; empty when either is missing.
QString CategorySlug(const QString& rowText);

// "https://" + webHost + "/professionals/" + slug + "/c/" + encodedCity + "/probr-0~"
QString ListingUrl(const QString& webHost, const QString& slug, const QString& encodedCity);

// One listing URL per pair of a selected city row and a selected category row,
// the city order outermost, both in row order.
WorkQueue SeedListingQueue(const QString& webHost, const QStringList& selectedCityRows,
                           const QStringList& selectedCategoryRows);

// The search API's request bodies, with the values inserted as they are (no
// escaping); "pageSize" is always 25.
QString SearchRequestBody(const QString& categoryId, const QString& cityId, const QString& token);
QString SearchRequestBody(const QString& categoryId, const QString& cityId,
                          const QString& serviceId, const QString& token);

// "https://" + webHost + "/pro/" + slug
QString CardUrl(const QString& webHost, const QString& slug);

// The response handler's test: {"filter" anywhere in the item. For every item
// the run makes it agrees with IsSearchRequest.
bool ContainsSearchFilter(QStringView item);

// A work item left empty once characters with codes up to 32 are trimmed from
// both ends; it is dropped without a worker.
bool IsBlankWorkItem(QStringView item);

// The log line for a finished phase-1 worker:
// "cityId/categoryId " + cityId + "/" + categoryId + ": " + statusText for a
// search request, item + ": " + statusText for a URL.
QString FinishedItemLogLine(const QString& item, const QString& statusText);

// The log line for a finished card download: "Карточка " + url + ": " + statusText.
QString CardLogLine(const QString& url, const QString& statusText);
