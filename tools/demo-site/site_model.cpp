#include "site_model.h"

#include "pools.h"

#include <algorithm>
#include <cstdio>

namespace demo {

namespace {

constexpr int kNoticeCards = 3;
constexpr uint64_t kTagCategory = 0x636174;
constexpr uint64_t kTagCity = 0x636974;
constexpr uint64_t kTagRegion = 0x726567;
constexpr uint64_t kTagToken = 0x746f6b;
constexpr uint64_t kTagCard = 0x636172;
constexpr uint64_t kTagSuffix = 0x737566;
constexpr uint64_t kSuffixBase = 36ULL * 36 * 36 * 36; // at least five digits
constexpr uint64_t kTagGone = 0x676f6e;
constexpr uint64_t kTagChange = 0x636867;
constexpr uint64_t kTagNew = 0x6e6577;
// New cards' slug numbers are apart from the base cards' ones.
constexpr uint32_t kNewNumberBit = 0x80000000u;

std::string Hex(uint64_t value, int digits) {
    static const char* kDigits = "0123456789abcdef";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 15];
        value >>= 4;
    }
    return out;
}

// 24 hex digits, like a database object id.
std::string Key(uint64_t seed, uint64_t tag) {
    return Hex(Mix(seed, tag), 16) + Hex(Mix(seed, tag + 1) >> 32, 8);
}

// Card numbers are spread over 32 bits by an odd multiplier (invertible
// modulo 2^32), so that neighbouring cards get unrelated-looking slugs.
constexpr uint32_t kSpread = 0x9E3779B1u;

uint32_t InverseOdd(uint32_t a) {
    uint32_t x = a; // Newton's iteration doubles the correct low bits each step
    for (int i = 0; i < 5; ++i)
        x *= 2u - a * x;
    return x;
}

std::string Base36(uint64_t value) {
    static const char* kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value % 36]);
        value /= 36;
    } while (value != 0);
    return out;
}

std::optional<uint64_t> ReadBase36(const std::string& text) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    uint64_t value = 0;
    for (char ch : text) {
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'a' && ch <= 'z')
            digit = ch - 'a' + 10;
        else
            return std::nullopt;
        value = value * 36 + static_cast<uint64_t>(digit);
    }
    return value;
}

std::string Digits(Rng& rng, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>('0' + rng.below(10));
    return out;
}

// The first character of a UTF-8 text (Cyrillic letters take two bytes).
std::string FirstLetter(std::string_view text) {
    if (text.empty())
        return {};
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return std::string(text.substr(0, std::min(length, text.size())));
}

std::string JsonEscapedNoBackslash(const std::string& text) {
    // What the program keeps of a JSON string value once it drops every
    // backslash: escapes lose their backslash, "\\" leaves nothing.
    std::string out;
    for (char ch : text) {
        if (ch != '\\')
            out += ch;
    }
    return out;
}

} // namespace

uint64_t Rng::next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint64_t Mix(uint64_t a, uint64_t b) {
    Rng rng(a * 0x9E3779B97F4A7C15ULL ^ (b + 0x632BE59BD9B4E019ULL));
    rng.next();
    return rng.next();
}

const std::vector<FaultCard>& FaultCards() {
    static const std::vector<FaultCard> kFaults = {
        {"fault-404-a", Fault::NotFound, 0, false, "404 Not Found on every request"},
        {"fault-500x3-a", Fault::ErrorThenOk, 3, true,
         "500 for the first 3 requests, then the card page",
         "=HYPERLINK(\"https://mastera.example/\";\"Мастер на час\")"},
        {"fault-empty", Fault::EmptyBody, 0, false, "200 with an empty body"},
        {"fault-404-b", Fault::NotFound, 0, false, "404 Not Found on every request"},
        {"fault-slow", Fault::Slow, 0, true, "the card page after --slow-ms milliseconds",
         "+Мастер на все руки"},
        {"fault-500-always", Fault::ErrorAlways, 0, false, "500 on every request"},
        {"fault-redirect", Fault::Redirect, 3, true,
         "3 redirects (301, 302, 307), then the card page", "-Скидка 20%- Сантехник Олег"},
        {"fault-blank", Fault::BlankBody, 0, false,
         "200 with a body of blanks and line breaks only"},
        {"fault-500x3-b", Fault::ErrorThenOk, 3, true,
         "500 for the first 3 requests, then the card page", "@santehnik_pro"},
        {"fault-404-c", Fault::NotFound, 0, false, "404 Not Found on every request"},
        {"fault-500x9", Fault::ErrorThenOk, 9, true,
         "500 for the first 9 requests, then the card page"},
        {"fault-redirect-long", Fault::Redirect, 20, false,
         "20 redirects (302), then the card page"},
    };
    return kFaults;
}

std::string PercentEncode(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')) {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
    }
    return out;
}

std::optional<std::string> PercentDecode(const std::string& text) {
    auto hexValue = [](char ch) -> int {
        if (ch >= '0' && ch <= '9')
            return ch - '0';
        if (ch >= 'A' && ch <= 'F')
            return ch - 'A' + 10;
        if (ch >= 'a' && ch <= 'f')
            return ch - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string ToLowerAscii(std::string text) {
    for (char& ch : text) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
    return text;
}

std::string Capitalized(const std::string& slug) {
    std::string out = slug;
    bool start = true;
    for (char& ch : out) {
        if (start && ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
        start = ch == '-';
    }
    return out;
}

Site::Site(uint64_t seed, int scale, bool faults, int week)
    : seed_(seed), scale_(std::max(scale, 0)), faults_(faults),
      week_(std::clamp(week, 0, kMaxWeek)) {
    suffixMask_ = Mix(seed_, kTagSuffix);

    for (std::size_t i = 0; i < kCategories.size(); ++i) {
        Category category;
        category.name = std::string(kCategories[i].name);
        category.slug = std::string(kCategories[i].slug);
        category.row = category.name + " (" + category.slug + ")";
        category.numericId = i % 2 == 0;
        for (uint64_t attempt = 0;; ++attempt) {
            const uint64_t h = Mix(seed_ ^ attempt, kTagCategory * 100 + i);
            category.id = category.numericId ? std::to_string(1000 + h % 90000) : Hex(h, 16);
            const bool taken = std::any_of(categories_.begin(), categories_.end(),
                                           [&](const Category& c) { return c.id == category.id; });
            if (!taken)
                break;
        }
        categories_.push_back(category);
    }

    for (std::size_t i = 0; i < kRegions.size(); ++i) {
        Region region;
        region.name = std::string(kRegions[i]);
        region.id = std::to_string(100 + i);
        region.key = Key(seed_, kTagRegion * 100 + i);
        regions_.push_back(region);
    }
    for (std::size_t i = 0; i < kCities.size(); ++i) {
        City city;
        city.name = std::string(kCities[i].name);
        city.id = std::to_string(1 + i);
        city.key = Key(seed_, kTagCity * 100 + i);
        if (kCities[i].region >= 0) {
            city.regionForm = RegionForm::Named;
            city.region = kCities[i].region;
            regions_[static_cast<std::size_t>(city.region)].cities.push_back(static_cast<int>(i));
        } else {
            city.regionForm = kCities[i].region == -1 ? RegionForm::Null : RegionForm::Absent;
        }
        cities_.push_back(city);
    }

    for (std::size_t i = 0; i < cities_.size(); ++i) {
        const City& city = cities_[i];
        CityRow row;
        row.text = city.name;
        if (city.regionForm == RegionForm::Named)
            row.text += "--" + regions_[static_cast<std::size_t>(city.region)].name;
        else if (city.regionForm == RegionForm::Null)
            row.text += "--";
        row.index = static_cast<int>(i);
        row.key = city.key;
        row.name = city.name;
        row.cities = {static_cast<int>(i)};
        rows_.push_back(row);
    }
    for (std::size_t i = 0; i < regions_.size(); ++i) {
        CityRow row;
        row.text = regions_[i].name;
        row.isRegion = true;
        row.index = static_cast<int>(i);
        row.key = regions_[i].key;
        row.name = regions_[i].name;
        row.cities = regions_[i].cities;
        rows_.push_back(row);
    }
}

int Site::findRow(const std::string& text) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].text == text)
            return static_cast<int>(i);
    }
    return -1;
}

int Site::findCategory(const std::string& slug) const {
    for (std::size_t i = 0; i < categories_.size(); ++i) {
        if (categories_[i].slug == slug)
            return static_cast<int>(i);
    }
    return -1;
}

int64_t Site::baseCardCount() const {
    return static_cast<int64_t>(cities_.size()) * static_cast<int64_t>(categories_.size()) * scale_;
}

CardRef Site::cityEntry(int city, int category, int position) const {
    const int categoryCount = static_cast<int>(categories_.size());
    auto base = [&](int c, int k, int j) {
        return (static_cast<int64_t>(c) * categoryCount + k) * scale_ + j;
    };
    if (faults_ && city == 0 && category == 0 && position % 4 == 1 &&
        position / 4 < static_cast<int>(FaultCards().size()))
        return {kFaultIdBase + position / 4, false};
    // Every tenth card also works in the next category: it is listed there
    // one place further on, and here with capitals in its address.
    if (position % 10 == 7 && position + 1 < scale_ && categoryCount > 1)
        return {base(city, (category + 1) % categoryCount, position + 1), true};
    return {base(city, category, position), false};
}

std::vector<CardRef> Site::pairCards(int row, int category) const {
    std::vector<CardRef> cards;
    const CityRow& r = rows_[static_cast<std::size_t>(row)];
    const int m = static_cast<int>(r.cities.size());
    if (m == 0)
        return cards;
    const int categoryCount = static_cast<int>(categories_.size());
    cards.reserve(static_cast<std::size_t>(scale_) + static_cast<std::size_t>(scale_ / 10));
    for (int j = 0; j < scale_; ++j) {
        const int city = r.cities[static_cast<std::size_t>(j % m)];
        CardRef ref = cityEntry(city, category, j / m);
        if (r.isRegion && j % 4 == 3)
            ref.capitals = true;
        if (!delisted(ref.id))
            cards.push_back(ref);
        // A card new this week follows the place it was added after.
        const int64_t place =
            (static_cast<int64_t>(city) * categoryCount + category) * scale_ + j / m;
        if (week_ > 0 && weekRank(kNewIdBase + place, kTagNew) < 50 * week_)
            cards.push_back({kNewIdBase + place, false});
    }
    return cards;
}

int Site::pageCount(int row, int category) const {
    const std::size_t cards =
        week_ == 0 ? static_cast<std::size_t>(scale_) : pairCards(row, category).size();
    return cards == 0 ? 1 : static_cast<int>((cards + kPageSize - 1) / kPageSize);
}

int Site::weekRank(int64_t id, uint64_t tag) const {
    return static_cast<int>(Mix(seed_ ^ tag, static_cast<uint64_t>(id)) % 1000);
}

bool Site::gone(int64_t id) const {
    return week_ > 0 && id >= 0 && id < kFaultIdBase && weekRank(id, kTagGone) < 50 * week_;
}

// Half of the gone cards have left the lists too; the others are still
// listed, as by a search index that lags behind.
bool Site::delisted(int64_t id) const {
    return gone(id) && weekRank(id, kTagGone) % 2 == 1;
}

namespace {
int OtherCity(const CityRow& row, int cityCount) {
    for (int c = 0; c < cityCount; ++c) {
        if (std::find(row.cities.begin(), row.cities.end(), c) == row.cities.end())
            return c;
    }
    return 0;
}
} // namespace

std::vector<CardRef> Site::noticeCards(int row, int category) const {
    std::vector<CardRef> cards;
    if ((row + category) % 3 != 0)
        return cards;
    const int other =
        OtherCity(rows_[static_cast<std::size_t>(row)], static_cast<int>(cities_.size()));
    const int categoryCount = static_cast<int>(categories_.size());
    for (int i = 1; i <= kNoticeCards && i < scale_; ++i)
        cards.push_back(
            {(static_cast<int64_t>(other) * categoryCount + category) * scale_ + i, false});
    return cards;
}

CardRef Site::promotedCard(int row, int category) const {
    if (scale_ <= 0)
        return {};
    const int other =
        OtherCity(rows_[static_cast<std::size_t>(row)], static_cast<int>(cities_.size()));
    const int categoryCount = static_cast<int>(categories_.size());
    return {(static_cast<int64_t>(other) * categoryCount + category) * scale_, false};
}

bool Site::lacksActiveCategory(int row, int category) const {
    return faults_ && row == 6 && category == 1; // Казань, Электрики
}

bool Site::carriesFaultCards(int row, int category) const {
    return faults_ && row == 0 && category == 0; // Москва, Сантехники
}

std::string Site::pageToken(int row, int category, int page) const {
    const uint64_t check =
        Mix(seed_, (static_cast<uint64_t>(row) << 40) | (static_cast<uint64_t>(category) << 24) |
                       static_cast<uint64_t>(page)) &
        0xFFFFFFFFULL;
    const uint64_t plain = (static_cast<uint64_t>(row) << 56) |
                           (static_cast<uint64_t>(category) << 48) |
                           (static_cast<uint64_t>(page) << 32) | check;
    return "pt_" + Hex(plain ^ Mix(seed_, kTagToken), 16);
}

bool Site::readPageToken(const std::string& token, int* row, int* category, int* page) const {
    if (token.size() != 19 || token.compare(0, 3, "pt_") != 0)
        return false;
    uint64_t value = 0;
    for (std::size_t i = 3; i < token.size(); ++i) {
        const char ch = token[i];
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else
            return false;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    value ^= Mix(seed_, kTagToken);
    const int r = static_cast<int>(value >> 56);
    const int k = static_cast<int>((value >> 48) & 0xFF);
    const int p = static_cast<int>((value >> 32) & 0xFFFF);
    if (r >= static_cast<int>(rows_.size()) || k >= static_cast<int>(categories_.size()) || p < 1 ||
        p >= pageCount(r, k))
        return false;
    if (pageToken(r, k, p) != token)
        return false;
    *row = r;
    *category = k;
    *page = p;
    return true;
}

std::string Site::slugSuffix(int64_t id) const {
    const uint32_t number = id >= kNewIdBase
                                ? static_cast<uint32_t>(id - kNewIdBase) | kNewNumberBit
                                : static_cast<uint32_t>(id);
    const uint32_t spread = (number * kSpread) ^ static_cast<uint32_t>(suffixMask_);
    return Base36(uint64_t{spread} + kSuffixBase);
}

Card Site::card(int64_t id) const {
    Card card;
    card.id = id;
    Rng rng(Mix(seed_, (kTagCard << 44) ^ static_cast<uint64_t>(id)));
    const int categoryCount = static_cast<int>(categories_.size());
    int position = 0;
    if (id >= kFaultIdBase && id < kNewIdBase) {
        card.fault = &FaultCards()[static_cast<std::size_t>(id - kFaultIdBase)];
        card.city = 0;
        card.category = 0;
    } else {
        const int64_t place = id >= kNewIdBase ? id - kNewIdBase : id;
        card.city = static_cast<int>(place / (static_cast<int64_t>(categoryCount) * scale_));
        card.category = static_cast<int>((place / scale_) % categoryCount);
        position = static_cast<int>(place % scale_);
    }

    std::string latin;
    card.firm = rng.chance(25);
    if (card.firm) {
        const Spelled& word = kFirmWords[static_cast<std::size_t>(rng.below(kFirmWords.size()))];
        const std::string w(word.cyr);
        const std::string l(word.lat);
        switch (rng.below(6)) {
        case 0:
            card.name = "Студия \"" + w + "\"";
            latin = "studiya-" + l;
            break;
        case 1:
            card.name = "ООО «" + w + "»";
            latin = "ooo-" + l;
            break;
        case 2:
            card.name = w + "-Сервис";
            latin = l + "-servis";
            break;
        case 3:
            card.name = "Бригада «" + w + "»";
            latin = "brigada-" + l;
            break;
        case 4: {
            const Spelled& surname =
                kSurnames[static_cast<std::size_t>(rng.below(kSurnames.size()))];
            const Spelled& first =
                kMaleNames[static_cast<std::size_t>(rng.below(kMaleNames.size()))];
            const std::string_view patronymic =
                kMalePatronymics[static_cast<std::size_t>(rng.below(kMalePatronymics.size()))];
            card.name = "ИП " + std::string(surname.cyr) + " " + FirstLetter(first.cyr) + ". " +
                        FirstLetter(patronymic) + ".";
            latin = "ip-" + std::string(surname.lat);
            break;
        }
        default:
            card.name = "Центр \"" + w + "\"";
            latin = "tsentr-" + l;
            break;
        }
    } else {
        const bool female = rng.chance(45);
        const Spelled& surname = kSurnames[static_cast<std::size_t>(rng.below(kSurnames.size()))];
        const Spelled& first =
            female ? kFemaleNames[static_cast<std::size_t>(rng.below(kFemaleNames.size()))]
                   : kMaleNames[static_cast<std::size_t>(rng.below(kMaleNames.size()))];
        const std::string surnameCyr = std::string(surname.cyr) + (female ? "а" : "");
        const std::string surnameLat = std::string(surname.lat) + (female ? "a" : "");
        switch (rng.below(3)) {
        case 0:
            card.name = surnameCyr + " " + std::string(first.cyr);
            break;
        case 1:
            card.name = std::string(first.cyr) + " " + surnameCyr;
            break;
        default: {
            const auto& patronymics = female ? kFemalePatronymics : kMalePatronymics;
            card.name = surnameCyr + " " + std::string(first.cyr) + " " +
                        std::string(patronymics[static_cast<std::size_t>(rng.below(8))]);
            break;
        }
        }
        latin = surnameLat + "-" + std::string(first.lat);
    }
    card.slug = card.fault ? std::string(card.fault->slug) : latin + "-" + slugSuffix(id);
    if (card.fault && card.fault->name)
        card.name = card.fault->name;

    // Categories: the card's own, the neighbour it is also listed under, and
    // sometimes a speciality.
    std::vector<std::pair<std::string, std::string>> parts; // html, text
    const std::string own = categories_[static_cast<std::size_t>(card.category)].name;
    parts.emplace_back(own, own);
    if (!card.fault && position % 10 == 8 && categoryCount > 1) {
        const std::string& other =
            categories_[static_cast<std::size_t>((card.category + categoryCount - 1) %
                                                 categoryCount)]
                .name;
        parts.emplace_back(other, other);
    }
    if (rng.chance(50)) {
        const Phrase& phrase =
            kSpecialities[static_cast<std::size_t>(rng.below(kSpecialities.size()))];
        parts.emplace_back(std::string(phrase.html), std::string(phrase.text));
    }
    const bool nbspJoin = rng.chance(50);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            card.categoriesHtml += nbspJoin ? ";&nbsp;" : "; ";
            card.categoriesText += ", ";
        }
        card.categoriesHtml += parts[i].first;
        card.categoriesText += parts[i].second;
    }
    card.categoriesHtml = "\n            " + card.categoriesHtml + "\n          ";

    // Offers: some named, some only priced.
    const auto& services = kCategories[static_cast<std::size_t>(card.category)].services;
    const int offerCount = rng.chance(15) ? 0 : 1 + rng.below(5);
    std::vector<int> order = {0, 1, 2, 3, 4, 5};
    for (int i = 5; i > 0; --i)
        std::swap(order[static_cast<std::size_t>(i)],
                  order[static_cast<std::size_t>(rng.below(i + 1))]);
    for (int i = 0; i < offerCount; ++i) {
        Offer offer;
        if (rng.chance(80))
            offer.name =
                std::string(services[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])]);
        offer.price = 500 + 100 * rng.below(86);
        card.offers.push_back(offer);
    }

    card.hasRating = rng.chance(70);
    if (card.hasRating) {
        card.ratingTenths = 35 + rng.below(16);
        card.reviews = 1 + rng.below(240);
    }
    if (rng.chance(90)) {
        if (rng.chance(80))
            card.telephone = "+7 (9" + Digits(rng, 2) + ") " + Digits(rng, 3) + "-" +
                             Digits(rng, 2) + "-" + Digits(rng, 2);
        else
            card.telephone =
                "8 (495) " + Digits(rng, 3) + "-" + Digits(rng, 2) + "-" + Digits(rng, 2);
    }
    std::string local = latin;
    std::replace(local.begin(), local.end(), '-', '.');
    if (rng.chance(65)) {
        static const char* kDomains[] = {"mail.example", "post.example", "box.example"};
        card.email = local + (rng.chance(50) ? Digits(rng, 2) : "") + "@" + kDomains[rng.below(3)];
    }
    const int linkRoll = rng.below(100);
    card.linkForm = linkRoll < 60 ? 0 : linkRoll < 85 ? 1 : 2;
    if (card.linkForm == 0) {
        const std::string handle = card.fault ? std::string(card.fault->slug) : latin;
        std::vector<std::string> all = {"https://" + handle + ".example",
                                        "https://vk.example/" + handle,
                                        "https://t.example/" + handle};
        const int first = rng.below(3);
        const int count = 1 + rng.below(3);
        for (int i = 0; i < count; ++i)
            card.links.push_back(all[static_cast<std::size_t>((first + i) % 3)]);
    }
    card.hasAddress = rng.chance(85);
    if (card.hasAddress) {
        card.locality = cities_[static_cast<std::size_t>(card.city)].name;
        if (rng.chance(85)) {
            card.street =
                std::string(kStreets[static_cast<std::size_t>(rng.below(kStreets.size()))]) +
                ", д. " + std::to_string(1 + rng.below(120));
            if (rng.chance(15))
                card.street +=
                    "\\" + std::to_string(1 + rng.below(9)); // "дробь" written with a backslash
            const int unit = rng.below(3);
            if (unit == 1)
                card.street += ", кв. " + std::to_string(1 + rng.below(300));
            else if (unit == 2)
                card.street += ", офис " + std::to_string(1 + rng.below(50));
        }
    }
    card.pageBytes = rng.chance(85) ? 25000 + static_cast<std::size_t>(rng.below(60000))
                                    : 120000 + static_cast<std::size_t>(rng.below(180000));
    card.noise = rng.next();
    applyChange(card);
    return card;
}

// One value of a card changed in this week: its telephone, address, rating
// or number of reviews; a card without the value chosen gets a new
// telephone instead, so that exactly one column differs.
void Site::applyChange(Card& card) const {
    if (week_ == 0 || card.id < 0 || card.id >= kFaultIdBase)
        return;
    const int rank = weekRank(card.id, kTagChange);
    if (rank < 500 || rank >= 500 + 50 * week_)
        return;
    Rng rng(Mix(seed_ ^ kTagChange, static_cast<uint64_t>(card.id)));
    int kind = rng.below(4);
    if ((kind == 1 && !card.hasAddress) || (kind >= 2 && !card.hasRating))
        kind = 0;
    switch (kind) {
    case 0: {
        const std::string old = card.telephone;
        do {
            card.telephone = "+7 (9" + Digits(rng, 2) + ") " + Digits(rng, 3) + "-" +
                             Digits(rng, 2) + "-" + Digits(rng, 2);
        } while (card.telephone == old);
        break;
    }
    case 1: {
        const std::string old = card.street;
        do {
            card.street =
                std::string(kStreets[static_cast<std::size_t>(rng.below(kStreets.size()))]) +
                ", д. " + std::to_string(1 + rng.below(120));
        } while (card.street == old);
        break;
    }
    case 2:
        card.ratingTenths = 35 + (card.ratingTenths - 35 + 1 + rng.below(15)) % 16;
        break;
    default:
        card.reviews += 1 + rng.below(20);
        break;
    }
}

std::string Site::slugAsListed(const CardRef& ref) const {
    const std::string slug = card(ref.id).slug;
    return ref.capitals ? Capitalized(slug) : slug;
}

std::optional<int64_t> Site::findCard(const std::string& slug) const {
    const std::string lower = ToLowerAscii(slug);
    if (faults_) {
        const auto& faults = FaultCards();
        for (std::size_t i = 0; i < faults.size(); ++i) {
            if (lower == faults[i].slug)
                return kFaultIdBase + static_cast<int64_t>(i);
        }
    }
    const std::size_t dash = lower.rfind('-');
    if (dash == std::string::npos)
        return std::nullopt;
    const auto number = ReadBase36(lower.substr(dash + 1));
    if (!number || *number < kSuffixBase || *number - kSuffixBase > 0xFFFFFFFFULL)
        return std::nullopt;
    const uint32_t spread =
        static_cast<uint32_t>(*number - kSuffixBase) ^ static_cast<uint32_t>(suffixMask_);
    const uint32_t decoded = spread * InverseOdd(kSpread);
    const uint64_t place = decoded & ~kNewNumberBit;
    if (place >= static_cast<uint64_t>(baseCardCount()))
        return std::nullopt;
    int64_t id = static_cast<int64_t>(place);
    if ((decoded & kNewNumberBit) != 0) {
        id += kNewIdBase;
        if (week_ == 0 || weekRank(id, kTagNew) >= 50 * week_)
            return std::nullopt; // not added (yet)
    } else if (gone(id)) {
        return std::nullopt;
    }
    if (card(id).slug != lower)
        return std::nullopt;
    return id;
}

CardValues Site::values(const Card& card) const {
    CardValues v;
    // Names and streets stand JSON-escaped in the page; the program drops
    // every backslash of them.
    std::string escapedName;
    for (char ch : card.name) {
        if (ch == '"' || ch == '\\')
            escapedName += '\\';
        escapedName += ch;
    }
    v.name = JsonEscapedNoBackslash(escapedName);
    v.categories = card.categoriesText;
    for (const Offer& offer : card.offers) {
        if (offer.name.empty())
            continue;
        if (!v.services.empty())
            v.services += "; ";
        v.services += offer.name;
    }
    if (card.hasRating) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%d.%d", card.ratingTenths / 10,
                      card.ratingTenths % 10);
        v.rating = buffer;
        v.reviews = std::to_string(card.reviews);
    }
    v.telephone = card.telephone;
    if (card.linkForm == 0 && !card.links.empty())
        v.site = card.links.front();
    v.email = card.email;
    if (card.hasAddress) {
        v.city = card.locality;
        std::string escapedStreet;
        for (char ch : card.street) {
            if (ch == '"' || ch == '\\')
                escapedStreet += '\\';
            escapedStreet += ch;
        }
        v.address = JsonEscapedNoBackslash(escapedStreet);
    }
    return v;
}

} // namespace demo
