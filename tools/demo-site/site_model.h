#pragma once
// The demo site's content: categories, cities, regions, the card list of every
// city and category pair, and every card's fields. Nothing is stored per card:
// each card is generated on demand from its number and the seed, so start-up
// costs the same at any scale.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace demo {

constexpr int kPageSize = 25;

struct Category {
    std::string id; // decimal digits for even positions, a hex text for odd ones
    bool numericId = false;
    std::string name;
    std::string slug;
    std::string row; // "name (slug)", the row the program shows
};

enum class RegionForm { Named, Null, Absent };

struct City {
    std::string name;
    RegionForm regionForm = RegionForm::Named;
    int region = -1; // index into regions() when Named
    std::string id;
    std::string key;
};

struct Region {
    std::string name;
    std::string id;
    std::string key;
    std::vector<int> cities; // cities of this region, in city order
};

// One row of the program's city list: cities first, then regions.
struct CityRow {
    std::string text; // "Город--Область", "Город--", "Город" or the region name
    bool isRegion = false;
    int index = 0; // into cities() or regions()
    std::string key;
    std::string name;        // the city's or region's own name
    std::vector<int> cities; // the cities whose cards the row lists
};

enum class Fault {
    None,
    NotFound,    // 404 on every request
    ErrorThenOk, // 500 for the first `count` requests, then the page
    ErrorAlways, // 500 on every request
    EmptyBody,   // 200 with an empty body
    BlankBody,   // 200 with blanks and line breaks only
    Slow,        // the page after --slow-ms
    Redirect,    // `count` redirects, then the page
};

struct FaultCard {
    const char* slug;
    Fault kind;
    int count;
    bool rowExpected; // whether the program ends up writing a row for it
    const char* description;
    // A name written by a stranger that a spreadsheet would take for a
    // formula; nullptr: a generated name like any card's.
    const char* name = nullptr;
};

const std::vector<FaultCard>& FaultCards();

// A card as it stands in a list: its number and whether the list spells its
// slug with capitals.
struct CardRef {
    int64_t id = -1;
    bool capitals = false;
};

struct Offer {
    std::string name; // empty: an offer without a name
    int price = 0;
};

struct Card {
    int64_t id = -1;
    std::string slug; // lower case
    const FaultCard* fault = nullptr;
    int city = 0;
    int category = 0;
    bool firm = false;
    std::string name;           // plain text; may hold a double quote
    std::string categoriesHtml; // the fragment after data-order="5">
    std::string categoriesText; // what that fragment reads as, trimmed
    std::vector<Offer> offers;
    bool hasRating = false;
    int ratingTenths = 0;
    int reviews = 0;
    std::string telephone;
    std::string email;
    int linkForm = 0; // 0: links listed, 1: empty list, 2: no sameAs member
    std::vector<std::string> links;
    bool hasAddress = false;
    std::string locality;
    std::string street;        // plain text; may hold a backslash
    std::size_t pageBytes = 0; // rough size of the card page
    uint64_t noise = 0;        // picks the filler
};

// Values the program writes for a card, before quoting for the CSV file and
// with "." as the decimal separator.
struct CardValues {
    std::string name, categories, services, rating, reviews, telephone, site, email, city, address;
};

// Later editions of the site ("weeks"), for runs that are compared with
// earlier ones. In week N every pair has, relative to week 0, about 5·N % of
// its cards new (listed after the card they follow), about 5·N % gone (their
// pages answer 404; half of them are still listed, the other half no longer)
// and about 5·N % with one changed value (telephone, address, rating or
// number of reviews). A card gone, new or changed in week N stays so in every
// later week, with the same values. Fault cards never change.
constexpr int kMaxWeek = 10;

class Site {
public:
    Site(uint64_t seed, int scale, bool faults, int week = 0);

    uint64_t seed() const { return seed_; }
    int scale() const { return scale_; }
    bool faults() const { return faults_; }
    int week() const { return week_; }

    const std::vector<Category>& categories() const { return categories_; }
    const std::vector<City>& cities() const { return cities_; }
    const std::vector<Region>& regions() const { return regions_; }
    const std::vector<CityRow>& rows() const { return rows_; }

    // The first row whose text equals `text` exactly, or -1.
    int findRow(const std::string& text) const;
    int findCategory(const std::string& slug) const;

    // The pair's cards in page order: exactly scale() of them.
    // In a later week: without the gone cards no longer listed, with the
    // new ones.
    std::vector<CardRef> pairCards(int row, int category) const;
    int pageCount(int row, int category) const;
    // Cards shown after the "filters removed" notice; empty when the pair has
    // no notice.
    std::vector<CardRef> noticeCards(int row, int category) const;
    // The advertised card above "Все эксперты</a>".
    CardRef promotedCard(int row, int category) const;
    // The pair whose listing page lacks the active category (with faults).
    bool lacksActiveCategory(int row, int category) const;
    // The pair that carries the fault cards (with faults).
    bool carriesFaultCards(int row, int category) const;

    // Token of page `page` (1-based past the listing page) of a pair.
    std::string pageToken(int row, int category, int page) const;
    bool readPageToken(const std::string& token, int* row, int* category, int* page) const;

    Card card(int64_t id) const;
    std::string slugAsListed(const CardRef& ref) const;
    // Case-insensitive; fault slugs only with faults on; nullopt for a card
    // gone or not yet there in this week.
    std::optional<int64_t> findCard(const std::string& slug) const;
    // Whether the card's page answers 404 in this week.
    bool gone(int64_t id) const;
    CardValues values(const Card& card) const;

    int64_t baseCardCount() const;

private:
    CardRef cityEntry(int city, int category, int position) const;
    std::string slugSuffix(int64_t id) const;
    // Where a card stands among this week's changes: 0 to 999, fixed per
    // card; below 50·week it is gone, from 500 to 500 + 50·week changed.
    int weekRank(int64_t id, uint64_t tag) const;
    bool delisted(int64_t id) const;
    void applyChange(Card& card) const;

    uint64_t seed_;
    int scale_;
    bool faults_;
    int week_;
    uint64_t suffixMask_;
    std::vector<Category> categories_;
    std::vector<City> cities_;
    std::vector<Region> regions_;
    std::vector<CityRow> rows_;
};

constexpr int64_t kFaultIdBase = int64_t{1} << 40;
// Cards new in a later week: kNewIdBase + the number of the base position
// they follow (city, category and position as in a base card's number).
constexpr int64_t kNewIdBase = int64_t{1} << 41;

// splitmix64 over a running state.
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next();
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
};

uint64_t Mix(uint64_t a, uint64_t b);

// "%XX" for every byte but ASCII letters and digits, upper-case hex.
std::string PercentEncode(const std::string& text);
// Decodes "%XX"; any other character is kept. nullopt for a broken escape.
std::optional<std::string> PercentDecode(const std::string& text);
std::string ToLowerAscii(std::string text);
// The slug with the first letter of each "-" part upper-cased.
std::string Capitalized(const std::string& slug);

} // namespace demo
