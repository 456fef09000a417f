#pragma once
// Deterministic sample inputs shaped like the site's answers: a card page of
// a chosen size, a search response, card URLs.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <vector>

// A card page of about `bytes` bytes of UTF-8: a head with styles and a
// breadcrumb block, profile sections with the categories (data-order 5),
// Cyrillic reviews, the card's JSON-LD block at about three quarters of the
// page, and a long inline script after it, as on the site.
QByteArray CardPageBody(std::size_t bytes);

// A search response with `resources` entries, in the site's member layout.
QByteArray SearchResponseBody(int resources);

// `count` distinct card URLs "https://<host>/pro/<slug>", slugs made of a
// transliterated name and a random suffix, in mixed letter case now and then.
std::vector<QString> CardUrls(std::size_t count, unsigned seed);

// Hostile inputs of about `bytes` bytes, the same on every run:
// - a listing page whose JSON-LD blocks (thousands of "LocalBusiness"
//   markers) all run up to the one "</script>" at its end, with no card list;
// - a card page whose offers (thousands of "Offer" markers) all run up to the
//   one "}" at the end of its JSON-LD block, with no name.
QByteArray HostileListingPage(std::size_t bytes);
QByteArray HostileCardPage(std::size_t bytes);

// Search responses of about `bytes` bytes shaped to cost the reader memory.
enum class SearchShape {
    EmptyObjects,  // "resources": [{},{},...]
    Zeros,         // "resources": [0,0,...]: the most elements per byte
    DistinctSlugs, // [{"slug":"s1"},{"slug":"s2"},...]: every element a new card
    DeepSlug,      // one slug {"":{"":{...}}} nested as deep as the size allows
    ReversedSlug,  // one slug {"b":0,"a":{"b":0,"a":{...}}}: every level reordered
    DeepArraySlug, // one slug [[[...]]]
    WideSlug,      // one slug object of scrambled, mostly repeated names
    RepeatedSlug,  // one element {"slug":"a","slug":"a",...}
};
QByteArray HostileSearchResponse(SearchShape shape, std::size_t bytes);
