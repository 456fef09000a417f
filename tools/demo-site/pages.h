#pragma once
// The demo site's pages and JSON answers, built from a Site. Every builder is
// const and thread-safe; `host` is the host (and port) the request named, so
// that card addresses in a page match the ones the program builds.

#include "site_model.h"

#include <string>
#include <vector>

namespace demo {

class Pages {
public:
    explicit Pages(const Site& site);

    std::string home(const std::string& host) const;
    // GET /professionals: the category data inside a script string.
    std::string professionals(const std::string& host) const;
    // GET /professionals/<slug>/c/<city>/probr-0~
    std::string listing(int row, int category, const std::string& host) const;
    // GET /pro/<slug>. `changedLayout`: the categories section has lost its
    // data-order="5" marker, as after a redesign of the site.
    std::string cardPage(const Card& card, const std::string& host,
                         bool changedLayout = false) const;
    // POST /api/v2/professionals:search, page >= 1.
    std::string search(int row, int category, int page) const;
    std::string cities() const;
    std::string regions() const;

    static std::string errorPage(int status);
    static std::string errorJson(int status, const std::string& message);

    // The data a test needs to check a run, as JSON. Empty filters match
    // everything; `category` is a slug, `city` a city-list row text.
    std::string expected(const std::string& category, const std::string& city) const;

    // Path of a pair's listing page, its city segment encoded as the program
    // encodes it.
    std::string listingPath(int row, int category) const;

private:
    void appendFiller(std::string& out, const std::vector<std::string>& pool, Rng& rng,
                      std::size_t bytes) const;
    void appendListingBlock(std::string& out, const CardRef& ref, const std::string& host) const;

    const Site& site_;
    std::vector<std::string> reviews_;
    std::vector<std::string> styles_;
    std::vector<std::string> scripts_;
};

// A JSON string literal (quotes included) for UTF-8 text.
std::string JsonString(const std::string& text);
std::string HtmlEscape(const std::string& text);

} // namespace demo
