// Peak memory of a process that handles one large search response as a run
// does: the body's bytes decoded (StreamToText), then HandleListingResponse.
//
//   search_response_peak SHAPE MIB [earlier]
//
// SHAPE is one of the shapes of HostileSearchResponse: empty-objects, zeros,
// distinct-slugs, deep-slug, reversed-slug, deep-array-slug, wide-slug,
// repeated-slug. With "earlier" the response is read the earlier way instead
// (fuzz/reference_readers.h: the whole document, then each card URL added),
// for comparison. Prints the process's peak resident memory (VmHWM) before
// and after the handling, the time it took and the cards it queued. One
// response per process, so that each peak is that response's own.
#include "peak_memory.h"
#include "reference_readers.h"
#include "sample_pages.h"

#include "site/listing_handler.h"
#include "site/requests.h"
#include "text/html_text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

struct NamedShape {
    const char* name;
    SearchShape shape;
};

constexpr NamedShape kShapes[] = {
    {"empty-objects", SearchShape::EmptyObjects},   {"zeros", SearchShape::Zeros},
    {"distinct-slugs", SearchShape::DistinctSlugs}, {"deep-slug", SearchShape::DeepSlug},
    {"reversed-slug", SearchShape::ReversedSlug},   {"deep-array-slug", SearchShape::DeepArraySlug},
    {"wide-slug", SearchShape::WideSlug},           {"repeated-slug", SearchShape::RepeatedSlug},
};

} // namespace

int main(int argc, char** argv) {
    const NamedShape* shape = nullptr;
    for (const NamedShape& s : kShapes) {
        if (argc >= 3 && std::strcmp(argv[1], s.name) == 0)
            shape = &s;
    }
    const bool earlier = argc == 4 && std::strcmp(argv[3], "earlier") == 0;
    if (shape == nullptr || (argc == 4 && !earlier) || argc > 4 || std::atol(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: search_response_peak SHAPE MIB [earlier]\n");
        return 64;
    }
    const std::size_t bytes = static_cast<std::size_t>(std::atol(argv[2])) << 20;
    const QString webHost = QStringLiteral("127.0.0.1:8443");
    const QString item =
        SearchRequestBody(QStringLiteral("6280"), QStringLiteral("city"), QStringLiteral("T"));

    const QByteArray body = HostileSearchResponse(shape->shape, bytes);
    const long before = PeakKiB();
    const auto start = std::chrono::steady_clock::now();
    WorkQueue listing;
    UrlQueue cards;
    SeenSet seen;
    if (earlier) {
        for (const QString& url :
             reference::CardUrlsFromSearchResponse(StreamToText(body), webHost))
            cards.PushNew(url, seen);
    } else {
        QueuedSearches queued;
        CardQueueCollector collector(cards, seen);
        HandleListingResponse(item, StreamToText(body), webHost, {}, listing, queued, collector);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const long after = PeakKiB();
    std::printf("%s %s: body %lld bytes, %zu cards queued, %.3f s, peak RSS %.1f MiB before "
                "handling, %.1f MiB after\n",
                shape->name, earlier ? "(earlier reading)" : "(HandleListingResponse)",
                static_cast<long long>(body.size()), cards.size(), took.count(), before / 1024.0,
                after / 1024.0);
    return 0;
}
