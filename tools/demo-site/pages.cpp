#include "pages.h"

#include "pools.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace demo {

namespace {

// A JSON text as the characters of a script string literal: backslashes and
// double quotes escaped, so every quote of the JSON reads as backslash-quote.
std::string ScriptString(const std::string& json) {
    std::string out;
    out.reserve(json.size() + json.size() / 4);
    for (char ch : json) {
        if (ch == '\\' || ch == '"')
            out += '\\';
        out += ch;
    }
    return out;
}

std::string Rating(int tenths) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d.%d", tenths / 10, tenths % 10);
    return buffer;
}

std::string Words(Rng& rng, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += ' ';
        out += kWords[static_cast<std::size_t>(rng.below(kWords.size()))];
    }
    return out;
}

std::string Ident(Rng& rng) {
    static const char* kLetters = "abcdefghijklmnopqrstuvwxyz";
    std::string out;
    for (int i = 0; i < 5; ++i)
        out += kLetters[rng.below(26)];
    return out;
}

const char* kStyleHead = R"(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
)";

const char* kSiteHeader = R"(<header class="site-header">
  <a class="site-header__logo" href="/">Каталог мастеров</a>
  <nav class="site-header__nav">
    <a href="/professionals">Все специалисты</a>
    <a href="/help">Помощь</a>
    <a href="/login">Войти</a>
  </nav>
</header>
)";

const char* kSiteFooter = R"(<footer class="site-footer">
  <p>&copy; Каталог мастеров. Демонстрационный сайт: все имена, телефоны и адреса вымышлены.</p>
</footer>
)";

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char ch : text) {
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (ch < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", ch);
                out += buffer;
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    out += '"';
    return out;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

Pages::Pages(const Site& site) : site_(site) {
    Rng rng(Mix(site.seed(), 0x66696c6c));
    for (int i = 0; i < 64; ++i) {
        std::string chunk;
        while (chunk.size() < 2048) {
            char date[32];
            std::snprintf(date, sizeof date, "%02d.%02d.20%02d", 1 + rng.below(28),
                          1 + rng.below(12), 18 + rng.below(7));
            const int stars = 3 + rng.below(3);
            chunk += "<div class=\"review\">\n  <div class=\"review__head\"><span "
                     "class=\"review__author\">";
            chunk += kReviewers[static_cast<std::size_t>(rng.below(kReviewers.size()))];
            chunk += "</span><span class=\"review__date\">";
            chunk += date;
            chunk += "</span><span class=\"review__stars\" title=\"" + std::to_string(stars) +
                     " из 5\">";
            for (int s = 0; s < stars; ++s)
                chunk += "&#9733;";
            chunk += "</span></div>\n  <p class=\"review__text\">";
            chunk += Words(rng, 12 + rng.below(40));
            chunk += ".</p>\n</div>\n";
        }
        reviews_.push_back(std::move(chunk));
    }
    for (int i = 0; i < 32; ++i) {
        std::string chunk;
        while (chunk.size() < 2048) {
            chunk += ".c-" + Ident(rng) + "{display:" + (rng.chance(50) ? "flex" : "block") +
                     ";margin:" + std::to_string(rng.below(24)) + "px " +
                     std::to_string(rng.below(24)) + "px;color:#" +
                     std::to_string(100 + rng.below(899)) +
                     ";font-size:" + std::to_string(12 + rng.below(12)) + "px}\n";
            chunk += "@media (max-width:" + std::to_string(480 + 16 * rng.below(40)) + "px){.c-" +
                     Ident(rng) + "{padding:" + std::to_string(rng.below(16)) + "px}}\n";
        }
        styles_.push_back(std::move(chunk));
    }
    for (int i = 0; i < 32; ++i) {
        std::string chunk;
        while (chunk.size() < 2048) {
            const std::string a = Ident(rng);
            const std::string b = Ident(rng);
            chunk += "function " + a + "(e,t){var n=e&&e.length>" + std::to_string(rng.below(9)) +
                     "?e.slice(0," + std::to_string(1 + rng.below(9)) + "):e;return t?" + b +
                     "(n):n}\n";
            chunk += "var " + b + "=function(e){return (e||[]).map(function(x){return x*" +
                     std::to_string(2 + rng.below(7)) + "})};\n";
        }
        scripts_.push_back(std::move(chunk));
    }
}

void Pages::appendFiller(std::string& out, const std::vector<std::string>& pool, Rng& rng,
                         std::size_t bytes) const {
    const std::size_t target = out.size() + bytes;
    while (out.size() < target)
        out += pool[static_cast<std::size_t>(rng.below(static_cast<int>(pool.size())))];
}

std::string Pages::listingPath(int row, int category) const {
    return "/professionals/" + site_.categories()[static_cast<std::size_t>(category)].slug + "/c/" +
           PercentEncode(site_.rows()[static_cast<std::size_t>(row)].text) + "/probr-0~";
}

std::string Pages::home(const std::string& host) const {
    std::string out = kStyleHead;
    out += "<title>Каталог мастеров — демонстрационный сайт</title>\n</head>\n<body>\n";
    out += kSiteHeader;
    out += "<main>\n<h1>Каталог мастеров</h1>\n<p>Адрес сайта: https://" + HtmlEscape(host) +
           "</p>\n<p><a href=\"/professionals\">Все категории специалистов</a></p>\n<ul>\n";
    for (std::size_t k = 0; k < site_.categories().size(); ++k) {
        out += "<li><a href=\"" + listingPath(0, static_cast<int>(k)) + "\">" +
               HtmlEscape(site_.categories()[k].name) + " — " + HtmlEscape(site_.rows()[0].name) +
               "</a></li>\n";
    }
    out += "</ul>\n</main>\n";
    out += kSiteFooter;
    out += "</body>\n</html>\n";
    return out;
}

std::string Pages::professionals(const std::string& host) const {
    Rng rng(Mix(site_.seed(), 0x70726f66));
    std::string out;
    out.reserve(160000);
    out += kStyleHead;
    out += "<title>Специалисты и мастера — каталог профессионалов</title>\n<style>\n";
    appendFiller(out, styles_, rng, 24000);
    out += "</style>\n</head>\n<body>\n";
    out += kSiteHeader;
    out += "<main class=\"catalog\">\n<h1>Все категории специалистов</h1>\n<ul "
           "class=\"catalog__list\">\n";
    for (const Category& category : site_.categories()) {
        out += "  <li class=\"catalog__item\"><a href=\"/professionals/" + category.slug + "\">" +
               HtmlEscape(category.name) + "</a></li>\n";
    }
    out += "</ul>\n<section class=\"reviews\">\n<h2>Отзывы клиентов</h2>\n";
    appendFiller(out, reviews_, rng, 60000);
    out += "</section>\n</main>\n";
    out += kSiteFooter;

    // The category data, first member of categoriesData, inside a script
    // string; the members after it hold arrays of their own.
    std::string state =
        "{\"app\":{\"host\":" + JsonString(host) +
        ",\"locale\":\"ru\",\"build\":\"demo\"},\"categoriesData\":{\"categories\":[";
    for (std::size_t k = 0; k < site_.categories().size(); ++k) {
        const Category& category = site_.categories()[k];
        if (k > 0)
            state += ',';
        state +=
            "{\"id\":" + (category.numericId ? category.id : JsonString(category.id)) +
            ",\"name\":" + JsonString(category.name) + ",\"slug\":" + JsonString(category.slug) +
            ",\"count\":" + std::to_string(site_.scale() * static_cast<int>(site_.rows().size())) +
            "}";
    }
    state += "],\"popular\":[";
    for (std::size_t k = 0; k < 4 && k < site_.categories().size(); ++k) {
        if (k > 0)
            state += ',';
        state += JsonString(site_.categories()[k].slug);
    }
    state += "],\"total\":" + std::to_string(site_.categories().size()) +
             "},\"user\":null,\"experiments\":[\"new-search\",\"ratings-v2\"]}";
    out += "<script>window.__INITIAL_STATE__ = JSON.parse(\"" + ScriptString(state) +
           "\");</script>\n";
    out += "<script>\n";
    appendFiller(out, scripts_, rng, 40000);
    out += "</script>\n</body>\n</html>\n";
    return out;
}

void Pages::appendListingBlock(std::string& out, const CardRef& ref,
                               const std::string& host) const {
    const Card card = site_.card(ref.id);
    const std::string slug = ref.capitals ? Capitalized(card.slug) : card.slug;
    const std::string url = "https://" + host + "/pro/" + slug;
    out += "<li class=\"card\">\n  <a class=\"card__name\" href=\"" + url + "\">" +
           HtmlEscape(card.name) + "</a>\n";
    if (card.hasRating)
        out += "  <span class=\"card__rating\">" + Rating(card.ratingTenths) + "</span>\n";
    out += "  <p class=\"card__about\">" +
           HtmlEscape(site_.categories()[static_cast<std::size_t>(card.category)].name) + ", " +
           HtmlEscape(site_.cities()[static_cast<std::size_t>(card.city)].name) + "</p>\n";
    out += "<script type=\"application/ld+json\">\n{\n  \"@context\": \"https://schema.org\",\n  "
           "\"@type\": \"LocalBusiness\",\n  \"name\": " +
           JsonString(card.name) + ",\n  \"url\": \"" + url + "\",\n  \"sameAs\": [ \"" + url +
           "\", \"" + url + "#reviews\" ]";
    if (card.hasRating) {
        out += ",\n  \"aggregateRating\": {\n    \"@type\": \"AggregateRating\",\n    "
               "\"ratingValue\": " +
               Rating(card.ratingTenths) +
               ",\n    \"reviewCount\": " + std::to_string(card.reviews) + "\n  }";
    }
    out += "\n}\n</script>\n</li>\n";
}

std::string Pages::listing(int row, int category, const std::string& host) const {
    const CityRow& r = site_.rows()[static_cast<std::size_t>(row)];
    const Category& cat = site_.categories()[static_cast<std::size_t>(category)];
    const std::vector<CardRef> cards = site_.pairCards(row, category);
    const std::size_t onPage = std::min<std::size_t>(cards.size(), kPageSize);
    Rng rng(Mix(site_.seed(), (static_cast<uint64_t>(row) << 8) | static_cast<uint64_t>(category)));
    const std::string path = listingPath(row, category);

    std::string out;
    out.reserve(140000);
    out += kStyleHead;
    out += "<title>" + HtmlEscape(cat.name) + " — " + HtmlEscape(r.name) + ": " +
           std::to_string(cards.size()) + " специалистов</title>\n";
    out += "<link rel=\"canonical\" href=\"https://" + host + path + "\">\n<style>\n";
    appendFiller(out, styles_, rng, 16000);
    out += "</style>\n<script type=\"application/ld+json\">\n{\n  \"@context\": "
           "\"https://schema.org\",\n  \"@type\": \"BreadcrumbList\",\n  \"itemListElement\": [\n"
           "    { \"@type\": \"ListItem\", \"position\": 1, \"item\": \"https://" +
           host +
           "/professionals\" },\n    { \"@type\": \"ListItem\", \"position\": 2, \"item\": "
           "\"https://" +
           host + path + "\" }\n  ]\n}\n</script>\n</head>\n<body>\n";
    out += kSiteHeader;
    out += "<main class=\"listing\">\n<h1>" + HtmlEscape(cat.name) + " — " + HtmlEscape(r.name) +
           "</h1>\n";

    const CardRef promoted = site_.promotedCard(row, category);
    if (promoted.id >= 0) {
        out += "<aside class=\"promo\"><span class=\"promo__label\">Реклама</span>\n<ul>\n";
        appendListingBlock(out, promoted, host);
        out += "</ul>\n</aside>\n";
    }
    out += "<nav class=\"tabs\"><a class=\"tabs__item tabs__item--active\" href=\"" + path +
           "\">Все эксперты</a><a class=\"tabs__item\" href=\"" + path +
           "?reviews=1\">С отзывами</a></nav>\n<ul class=\"cards\">\n";
    for (std::size_t i = 0; i < onPage; ++i)
        appendListingBlock(out, cards[i], host);
    out += "</ul>\n";
    const std::vector<CardRef> others = site_.noticeCards(row, category);
    if (!others.empty()) {
        out +=
            "<section class=\"relaxed\">\n<p class=\"relaxed__title\">Убрали часть фильтров, чтобы "
            "показать больше экспертов</p>\n<ul class=\"cards\">\n";
        for (const CardRef& other : others)
            appendListingBlock(out, other, host);
        out += "</ul>\n</section>\n";
    }
    out += "<section class=\"reviews\">\n";
    appendFiller(out, reviews_, rng, 40000);
    out += "</section>\n</main>\n";
    out += kSiteFooter;

    std::string state =
        "{\"router\":{\"path\":" + JsonString(path) +
        "},\"search\":{\"defaultValues\":{\"location\":[{\"key\":" + JsonString(r.key) +
        ",\"name\":" + JsonString(r.name) + ",\"type\":\"" + (r.isRegion ? "region" : "city") +
        "\"}],\"category\":{\"id\":" + (cat.numericId ? cat.id : JsonString(cat.id)) +
        ",\"slug\":" + JsonString(cat.slug) + "}},";
    if (!site_.lacksActiveCategory(row, category))
        state +=
            "\"activeCategory\":\"professionals:categories:" + std::to_string(category) + "\",";
    state += "\"results\":{\"total\":" + std::to_string(cards.size()) +
             ",\"pageSize\":" + std::to_string(kPageSize) + ",\"nextPageToken\":" +
             (site_.pageCount(row, category) > 1 ? JsonString(site_.pageToken(row, category, 1))
                                                 : std::string("null")) +
             ",\"items\":[";
    for (std::size_t i = 0; i < onPage; ++i) {
        if (i > 0)
            state += ',';
        state += JsonString(site_.slugAsListed(cards[i]));
    }
    state += "]}}}";
    out += "<script>window.__PRELOADED_STATE__ = JSON.parse(\"" + ScriptString(state) +
           "\");</script>\n";
    out += "<script>\n";
    appendFiller(out, scripts_, rng, 24000);
    out += "</script>\n</body>\n</html>\n";
    return out;
}

std::string Pages::cardPage(const Card& card, const std::string& host, bool changedLayout) const {
    Rng rng(card.noise);
    const std::string& categoryName =
        site_.categories()[static_cast<std::size_t>(card.category)].name;
    const std::string& cityName = site_.cities()[static_cast<std::size_t>(card.city)].name;
    const std::string url = "https://" + host + "/pro/" + card.slug;
    const std::size_t filler = card.pageBytes > 8000 ? card.pageBytes - 8000 : 0;

    std::string out;
    out.reserve(card.pageBytes + 16000);
    out += kStyleHead;
    out += "<title>" + HtmlEscape(card.name) + " — " + HtmlEscape(categoryName) + ", " +
           HtmlEscape(cityName) + "</title>\n<link rel=\"canonical\" href=\"" + url +
           "\">\n<style>\n";
    appendFiller(out, styles_, rng, filler * 15 / 100);
    out += "</style>\n<script type=\"application/ld+json\">\n{\n  \"@context\": "
           "\"https://schema.org\",\n  \"@type\": \"BreadcrumbList\",\n  \"itemListElement\": [\n"
           "    { \"@type\": \"ListItem\", \"position\": 1, \"item\": \"https://" +
           host +
           "/professionals\" },\n    { \"@type\": \"ListItem\", \"position\": 2, \"item\": \"" +
           url + "\" }\n  ]\n}\n</script>\n</head>\n<body>\n";
    out += kSiteHeader;
    out += "<main class=\"profile\">\n<h1 class=\"profile__name\">" + HtmlEscape(card.name) +
           "</h1>\n";
    out += "<section class=\"profile__section\" data-order=\"1\">Опыт работы: " +
           std::to_string(1 + rng.below(25)) + " лет</section>\n";
    out += "<section class=\"profile__section\" data-order=\"2\">Выезд: " + HtmlEscape(cityName) +
           " и пригород</section>\n";
    out += "<section class=\"profile__section\" data-order=\"3\">Документы проверены</section>\n";
    out += "<section class=\"profile__section\" data-order=\"4\">О себе: " + Words(rng, 20) +
           ".</section>\n";
    out += std::string(changedLayout
                           ? "<div class=\"profile__categories\" data-section=\"categories\">"
                           : "<div class=\"profile__categories\" data-order=\"5\">") +
           card.categoriesHtml + "</div>\n";
    out += "<section class=\"profile__section\" data-order=\"6\">\n<ul class=\"prices\">\n";
    for (const Offer& offer : card.offers) {
        out += "  <li>" +
               (offer.name.empty() ? std::string("Выезд специалиста") : HtmlEscape(offer.name)) +
               " — от " + std::to_string(offer.price) + " &#8381;</li>\n";
    }
    out += "</ul>\n</section>\n<section class=\"reviews\" data-order=\"7\">\n";
    appendFiller(out, reviews_, rng, filler * 60 / 100);
    out += "</section>\n</main>\n";

    // The card's structured description.
    out += "<script type=\"application/ld+json\">\n{\n  \"@context\": \"https://schema.org\",\n"
           "  \"@type\": \"LocalBusiness\",\n  \"@id\": \"" +
           url + "\",\n  \"name\": " + JsonString(card.name) + ",\n  \"image\": \"https://" + host +
           "/static/avatars/" + card.slug + ".jpg\",\n";
    if (!card.telephone.empty())
        out += "  \"telephone\": " + JsonString(card.telephone) + ",\n";
    if (!card.email.empty())
        out += "  \"email\": " + JsonString(card.email) + ",\n";
    if (card.hasAddress) {
        out += "  \"address\": {\n    \"@type\": \"PostalAddress\",\n    \"addressLocality\": " +
               JsonString(card.locality) + ",\n";
        if (!card.street.empty())
            out += "    \"streetAddress\": " + JsonString(card.street) + ",\n";
        out += "    \"addressCountry\": \"RU\"\n  },\n";
    }
    if (card.hasRating) {
        out +=
            "  \"aggregateRating\": {\n    \"@type\": \"AggregateRating\",\n    \"ratingValue\": " +
            Rating(card.ratingTenths) + ",\n    \"reviewCount\": " + std::to_string(card.reviews) +
            ",\n    \"bestRating\": 5\n  },\n";
    }
    if (card.linkForm == 0) {
        out += "  \"sameAs\": [\n";
        for (std::size_t i = 0; i < card.links.size(); ++i)
            out += "    " + JsonString(card.links[i]) + (i + 1 < card.links.size() ? ",\n" : "\n");
        out += "  ],\n";
    } else if (card.linkForm == 1) {
        out += "  \"sameAs\": [],\n";
    }
    out += "  \"makesOffer\": [";
    for (std::size_t i = 0; i < card.offers.size(); ++i) {
        const Offer& offer = card.offers[i];
        out += i > 0 ? ",\n" : "\n";
        out += "    {\n      \"@type\": \"Offer\",\n";
        if (!offer.name.empty())
            out += "      \"name\": " + JsonString(offer.name) + ",\n";
        out += "      \"price\": \"" + std::to_string(offer.price) +
               "\",\n      \"priceCurrency\": \"RUB\"\n    }";
    }
    out += card.offers.empty() ? "],\n" : "\n  ],\n";
    out += "  \"priceRange\": \"RUB\"\n}\n</script>\n";
    out += kSiteFooter;
    out += "<script>\n";
    appendFiller(out, scripts_, rng, filler * 25 / 100);
    out += "</script>\n</body>\n</html>\n";
    return out;
}

std::string Pages::search(int row, int category, int page) const {
    const std::vector<CardRef> cards = site_.pairCards(row, category);
    const std::size_t from = static_cast<std::size_t>(page) * kPageSize;
    const std::size_t to = std::min(cards.size(), from + kPageSize);
    std::string out = "{\"resources\":[";
    for (std::size_t i = from; i < to; ++i) {
        const Card card = site_.card(cards[i].id);
        if (i > from)
            out += ',';
        out += "{\"id\":\"" + std::to_string(card.id) +
               "\",\"slug\":" + JsonString(cards[i].capitals ? Capitalized(card.slug) : card.slug) +
               ",\"name\":" + JsonString(card.name) +
               ",\"city\":" + JsonString(site_.cities()[static_cast<std::size_t>(card.city)].name);
        if (card.hasRating)
            out += ",\"rating\":" + Rating(card.ratingTenths) +
                   ",\"reviewCount\":" + std::to_string(card.reviews);
        out += '}';
    }
    out += "],\"pageSize\":" + std::to_string(kPageSize) +
           ",\"totalCount\":" + std::to_string(cards.size());
    if (page + 1 < site_.pageCount(row, category))
        out += ",\"nextPageToken\":" + JsonString(site_.pageToken(row, category, page + 1));
    out += '}';
    return out;
}

std::string Pages::cities() const {
    std::string out = "{\"resources\":[";
    for (std::size_t i = 0; i < site_.cities().size(); ++i) {
        const City& city = site_.cities()[i];
        if (i > 0)
            out += ',';
        out += "{\"id\":" + city.id + ",\"key\":" + JsonString(city.key) +
               ",\"name\":" + JsonString(city.name);
        if (city.regionForm == RegionForm::Named) {
            const Region& region = site_.regions()[static_cast<std::size_t>(city.region)];
            out +=
                ",\"region\":{\"id\":" + region.id + ",\"name\":" + JsonString(region.name) + "}";
        } else if (city.regionForm == RegionForm::Null) {
            out += ",\"region\":null";
        }
        out += '}';
    }
    out += "],\"total\":" + std::to_string(site_.cities().size()) + "}";
    return out;
}

std::string Pages::regions() const {
    std::string out = "{\"resources\":[";
    for (std::size_t i = 0; i < site_.regions().size(); ++i) {
        const Region& region = site_.regions()[i];
        if (i > 0)
            out += ',';
        out += "{\"id\":" + region.id + ",\"key\":" + JsonString(region.key) +
               ",\"name\":" + JsonString(region.name) + "}";
    }
    out += "],\"total\":" + std::to_string(site_.regions().size()) + "}";
    return out;
}

std::string Pages::errorPage(int status) {
    const char* title = status == 404   ? "Страница не найдена"
                        : status == 400 ? "Неверный запрос"
                        : status == 429 ? "Слишком много запросов"
                        : status == 500 ? "Внутренняя ошибка сервера"
                                        : "Ошибка";
    std::string out = kStyleHead;
    out += "<title>" + std::string(title) + "</title>\n</head>\n<body>\n";
    out += kSiteHeader;
    out += "<main class=\"error\">\n<h1>" + std::to_string(status) + ". " + title +
           "</h1>\n<p>Попробуйте вернуться на <a href=\"/\">главную страницу</a>.</p>\n</main>\n";
    out += kSiteFooter;
    out += "</body>\n</html>\n";
    return out;
}

std::string Pages::errorJson(int status, const std::string& message) {
    const char* code = status == 400   ? "INVALID_ARGUMENT"
                       : status == 404 ? "NOT_FOUND"
                       : status == 405 ? "METHOD_NOT_ALLOWED"
                       : status == 429 ? "RESOURCE_EXHAUSTED"
                                       : "INTERNAL";
    return "{\"error\":{\"code\":" + std::to_string(status) + ",\"status\":\"" + code +
           "\",\"message\":" + JsonString(message) + "}}";
}

std::string Pages::expected(const std::string& category, const std::string& city) const {
    using Json = nlohmann::ordered_json;
    Json doc;
    doc["seed"] = site_.seed();
    doc["scale"] = site_.scale();
    doc["faults"] = site_.faults();
    doc["week"] = site_.week();
    doc["pageSize"] = kPageSize;
    Json categories = Json::array();
    for (std::size_t k = 0; k < site_.categories().size(); ++k) {
        const Category& c = site_.categories()[k];
        categories.push_back({{"index", k},
                              {"id", c.id},
                              {"numericId", c.numericId},
                              {"name", c.name},
                              {"slug", c.slug},
                              {"row", c.row}});
    }
    doc["categories"] = categories;
    Json rows = Json::array();
    for (std::size_t r = 0; r < site_.rows().size(); ++r) {
        const CityRow& row = site_.rows()[r];
        rows.push_back({{"index", r},
                        {"row", row.text},
                        {"kind", row.isRegion ? "region" : "city"},
                        {"key", row.key},
                        {"segment", PercentEncode(row.text)}});
    }
    doc["cityRows"] = rows;

    Json pairs = Json::array();
    Json cards = Json::object();
    auto addCard = [&](const CardRef& ref) {
        const Card card = site_.card(ref.id);
        if (cards.contains(card.slug))
            return;
        const CardValues v = site_.values(card);
        Json entry;
        entry["slug"] = card.slug;
        entry["fault"] = card.fault ? card.fault->slug : "";
        const bool gone = site_.gone(card.id);
        entry["row"] = !gone && (card.fault ? card.fault->rowExpected : true);
        entry["gone"] = gone;
        entry["values"] = {{"name", v.name},         {"categories", v.categories},
                           {"services", v.services}, {"rating", v.rating},
                           {"reviews", v.reviews},   {"telephone", v.telephone},
                           {"site", v.site},         {"email", v.email},
                           {"city", v.city},         {"address", v.address}};
        cards[card.slug] = entry;
    };
    for (std::size_t r = 0; r < site_.rows().size(); ++r) {
        if (!city.empty() && site_.rows()[r].text != city)
            continue;
        for (std::size_t k = 0; k < site_.categories().size(); ++k) {
            if (!category.empty() && site_.categories()[k].slug != category)
                continue;
            const int row = static_cast<int>(r);
            const int cat = static_cast<int>(k);
            Json pair;
            pair["category"] = site_.categories()[k].slug;
            pair["categoryIndex"] = k;
            pair["categoryId"] = site_.categories()[k].id;
            pair["city"] = site_.rows()[r].text;
            pair["cityIndex"] = r;
            pair["cityKey"] = site_.rows()[r].key;
            pair["path"] = listingPath(row, cat);
            pair["pages"] = site_.pageCount(row, cat);
            pair["fault"] = site_.lacksActiveCategory(row, cat) ? "no-active-category" : "";
            Json list = Json::array();
            for (const CardRef& ref : site_.pairCards(row, cat)) {
                list.push_back(site_.slugAsListed(ref));
                addCard(ref);
            }
            pair["cards"] = list;
            Json ignored = Json::array();
            const CardRef promoted = site_.promotedCard(row, cat);
            if (promoted.id >= 0)
                ignored.push_back(site_.slugAsListed(promoted));
            for (const CardRef& ref : site_.noticeCards(row, cat))
                ignored.push_back(site_.slugAsListed(ref));
            pair["notice"] = !site_.noticeCards(row, cat).empty();
            pair["ignored"] = ignored;
            pairs.push_back(pair);
        }
    }
    doc["pairs"] = pairs;
    doc["cards"] = cards;
    return doc.dump(1) + "\n";
}

} // namespace demo
