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
