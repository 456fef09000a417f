#include "sample_pages.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kHost = "127.0.0.1:8443";

// A small fixed generator, so that every run measures the same bytes.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::size_t Below(std::size_t n) { return Next() % n; }

private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 24> kWords = {
    "мастер",     "работа",    "быстро",       "качественно",  "аккуратно", "рекомендую",
    "вовремя",    "квартиры",  "договорились", "спасибо",      "результат", "объясняет",
    "терпеливый", "материалы", "выезд",        "ремонт",       "гарантия",  "стоимость",
    "сделал",     "помог",     "советую",      "пунктуальный", "дома",      "всё"};

constexpr std::array<const char*, 12> kLatin = {"ivanov",    "petrova",  "sidorov", "smirnova",
                                                "kuznetsov", "popova",   "vasilev", "sokolova",
                                                "mikhaylov", "novikova", "fedorov", "morozova"};

// Appends every piece in turn (GCC 12 warns falsely about chains of "+" on
// temporary strings at -O3).
template <typename... Pieces> void Append(std::string& out, const Pieces&... pieces) {
    (out.append(std::string_view(pieces)), ...);
}

std::string Num(std::size_t n) {
    return std::to_string(n);
}

void AppendSentence(std::string& out, Rng& rng, int words) {
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            out += ' ';
        out += kWords[rng.Below(kWords.size())];
    }
    out += '.';
}

void AppendStyles(std::string& out, Rng& rng, std::size_t bytes) {
    const std::size_t end = out.size() + bytes;
    while (out.size() < end) {
        Append(out, ".c-", Num(rng.Next() % 100000), "{display:block;margin:", Num(rng.Below(24)),
               "px ", Num(rng.Below(24)), "px;color:#", Num(100 + rng.Below(900)),
               ";font-size:", Num(10 + rng.Below(12)), "px}\n");
    }
}

void AppendScript(std::string& out, Rng& rng, std::size_t bytes) {
    const std::size_t end = out.size() + bytes;
    while (out.size() < end) {
        const std::string f = Num(rng.Next() % 100000);
        const std::string g = Num(rng.Next() % 100000);
        Append(out, "function f", f, "(e,t){var n=e&&e.length>", Num(rng.Below(9)), "?e.slice(0,",
               Num(rng.Below(9)), "):e;return t?g", g, "(n):n}\nvar g", g,
               "=function(e){return (e||[]).map(function(x){return x*", Num(rng.Below(9)),
               "})};\n");
    }
}

void AppendReviews(std::string& out, Rng& rng, std::size_t bytes) {
    const std::size_t end = out.size() + bytes;
    while (out.size() < end) {
        out += "<div class=\"review\">\n  <div class=\"review__head\"><span "
               "class=\"review__author\">Ольга М.</span><span class=\"review__date\">"
               "04.08.2023</span><span class=\"review__stars\" title=\"5 из 5\">"
               "&#9733;&#9733;&#9733;&#9733;&#9733;</span></div>\n  <p class=\"review__text\">";
        AppendSentence(out, rng, 20 + static_cast<int>(rng.Below(40)));
        out += "</p>\n</div>\n";
    }
}

} // namespace

QByteArray CardPageBody(std::size_t bytes) {
    Rng rng(bytes);
    std::string out;
    out.reserve(bytes + 4096);
    out += "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>Алексей Романов — Сантехники, Москва</title>\n<style>\n";
    AppendStyles(out, rng, bytes / 20);
    out += "</style>\n<script type=\"application/ld+json\">\n{\n  \"@context\": "
           "\"https://schema.org\",\n  \"@type\": \"BreadcrumbList\",\n  \"itemListElement\": [\n"
           "    { \"@type\": \"ListItem\", \"position\": 1, \"item\": \"https://";
    Append(out, kHost, "/professionals\" }\n  ]\n}\n</script>\n</head>\n<body>\n");
    out += "<main class=\"profile\">\n<h1 class=\"profile__name\">Алексей Романов</h1>\n";
    for (int order = 1; order <= 4; ++order) {
        Append(out, "<section class=\"profile__section\" data-order=\"", Num(order), "\">");
        AppendSentence(out, rng, 25);
        out += "</section>\n";
    }
    out += "<div class=\"profile__categories\" data-order=\"5\">\n            "
           "Сантехники; Гарантия&nbsp;1&nbsp;год\n          </div>\n"
           "<section class=\"profile__section\" data-order=\"6\">\n<ul class=\"prices\">\n"
           "  <li>Монтаж радиаторов — от 5100 &#8381;</li>\n</ul>\n</section>\n"
           "<section class=\"reviews\" data-order=\"7\">\n";
    AppendReviews(out, rng, bytes * 3 / 4 - out.size());
    out += "</section>\n</main>\n<script type=\"application/ld+json\">\n{\n"
           "  \"@context\": \"https://schema.org\",\n  \"@type\": \"LocalBusiness\",\n"
           "  \"@id\": \"https://";
    Append(out, kHost, "/pro/romanov-aleksey-p5ffz6\",\n");
    out += "  \"name\": \"Алексей \\\"Мастер\\\" Романов\",\n"
           "  \"telephone\": \"+7 (950) 414-63-23\",\n"
           "  \"email\": \"romanov.aleksey77@post.example\",\n"
           "  \"address\": {\n    \"@type\": \"PostalAddress\",\n"
           "    \"addressLocality\": \"Москва\",\n"
           "    \"streetAddress\": \"пр-т Мира, д. 27, офис 8\",\n"
           "    \"addressCountry\": \"RU\"\n  },\n"
           "  \"aggregateRating\": {\n    \"@type\": \"AggregateRating\",\n"
           "    \"ratingValue\": 4.7,\n    \"reviewCount\": 118,\n    \"bestRating\": 5\n  },\n"
           "  \"sameAs\": [\n    \"https://vk.example/romanov-aleksey\",\n"
           "    \"https://t.example/romanov-aleksey\"\n  ],\n  \"makesOffer\": [\n";
    for (int i = 0; i < 6; ++i) {
        Append(out, i > 0 ? ",\n" : "",
               "    {\n      \"@type\": \"Offer\",\n      \"name\": \"Услуга ", Num(i + 1),
               "\",\n      \"price\": \"", Num(1000 + 100 * i),
               "\",\n      \"priceCurrency\": \"RUB\"\n    }");
    }
    out += "\n  ],\n  \"priceRange\": \"RUB\"\n}\n</script>\n<footer class=\"site-footer\">\n"
           "  <p>&copy; Каталог мастеров.</p>\n</footer>\n<script>\n";
    if (out.size() < bytes)
        AppendScript(out, rng, bytes - out.size());
    out += "</script>\n</body>\n</html>\n";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

QByteArray SearchResponseBody(int resources) {
    Rng rng(static_cast<std::uint64_t>(resources));
    std::string out = "{\"resources\":[";
    for (int i = 0; i < resources; ++i) {
        if (i > 0)
            out += ',';
        const char* first = kLatin[rng.Below(kLatin.size())];
        const char* second = kLatin[rng.Below(kLatin.size())];
        Append(out, "{\"id\":\"", Num(100 + i), "\",\"slug\":\"", first, "-", second, "-",
               Num(rng.Next() % 1000000),
               "\",\"name\":\"Иванова Мария Петровна\",\"city\":\"Москва\",\"rating\":4.",
               Num(rng.Below(10)), ",\"reviewCount\":", Num(rng.Below(300)),
               ",\"categories\":[{\"id\":6280,\"name\":\"Сантехники\"}],\"about\":\"");
        AppendSentence(out, rng, 30);
        out += "\"}";
    }
    out += "],\"pageSize\":25,\"totalCount\":1000,\"nextPageToken\":\"pt_2ea15f14ee72955c\"}";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

std::vector<QString> CardUrls(std::size_t count, unsigned seed) {
    Rng rng(seed);
    std::vector<QString> urls;
    urls.reserve(count);
    const QString prefix = QStringLiteral("https://%1/pro/").arg(QLatin1String(kHost));
    for (std::size_t i = 0; i < count; ++i) {
        // The index after the last "-" keeps the URLs distinct; the rest gives
        // them the site's length and long common prefixes.
        QString slug = QString::fromLatin1(kLatin[rng.Below(kLatin.size())]) + u'-' +
                       QString::fromLatin1(kLatin[rng.Below(kLatin.size())]) + u'-' +
                       QString::number(rng.Next() % 46656, 36) + u'-' + QString::number(i, 36);
        if (rng.Below(8) == 0)
            slug[0] = slug[0].toUpper();
        urls.push_back(prefix + slug);
    }
    return urls;
}

QByteArray HostileListingPage(std::size_t bytes) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"ru\">\n<body>\n<a href=\"/professionals\">Все "
                      "эксперты</a>\n<script type=\"application/ld+json\">[\n";
    out.reserve(bytes + 256);
    for (std::size_t i = 0; out.size() < bytes; ++i)
        Append(out, "{\"@type\": \"LocalBusiness\", \"name\": \"Мастер ", Num(i), "\"},\n");
    out += "{}]\n</script>\n</body>\n</html>\n";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

QByteArray HostileCardPage(std::size_t bytes) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"ru\">\n<body>\n<div data-order=\"5\">Сантехники"
        "</div>\n<script type=\"application/ld+json\">{\"@type\": \"LocalBusiness\", "
        "\"name\": \"Алексей\", \"makesOffer\": [\n";
    out.reserve(bytes + 256);
    for (std::size_t i = 0; out.size() < bytes; ++i)
        Append(out, "{\"@type\": \"Offer\", \"price\": \"", Num(1000 + i % 9000), "\"\n");
    out += "}]}\n</script>\n</body>\n</html>\n";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

QByteArray HostileSearchResponse(SearchShape shape, std::size_t bytes) {
    // Built in place: the body is the only large thing the caller should see.
    QByteArray out;
    out.reserve(static_cast<qsizetype>(bytes) + 64);
    const auto size = [&out] { return static_cast<std::size_t>(out.size()); };
    out += "{\"resources\":[";
    switch (shape) {
    case SearchShape::EmptyObjects:
        while (size() < bytes)
            out += "{},";
        out += "{}";
        break;
    case SearchShape::Zeros:
        while (size() < bytes)
            out += "0,";
        out += '0';
        break;
    case SearchShape::DistinctSlugs:
        for (std::size_t i = 0; size() < bytes; ++i) {
            out += "{\"slug\":\"s";
            out += QByteArray::number(static_cast<qulonglong>(i), 36);
            out += "\"},";
        }
        out += "{}";
        break;
    case SearchShape::DeepSlug:
    case SearchShape::ReversedSlug:
    case SearchShape::DeepArraySlug: {
        const char* open = shape == SearchShape::DeepSlug       ? "{\"\":"
                           : shape == SearchShape::ReversedSlug ? "{\"b\":0,\"a\":"
                                                                : "[";
        const char* close = shape == SearchShape::DeepArraySlug ? "]" : "}";
        const std::size_t level = std::strlen(open) + 1;
        const std::size_t levels = (bytes - size()) / level;
        out += "{\"slug\":";
        for (std::size_t i = 0; i < levels; ++i)
            out += open;
        out += "0";
        for (std::size_t i = 0; i < levels; ++i)
            out += close;
        out += '}';
        break;
    }
    case SearchShape::WideSlug: {
        Rng rng(bytes);
        out += "{\"slug\":{";
        for (std::size_t i = 0; size() < bytes; ++i) {
            out += i > 0 ? ",\"k" : "\"k";
            out += QByteArray::number(static_cast<qulonglong>(rng.Below(1000)));
            out += "\":";
            out += QByteArray::number(static_cast<qulonglong>(i));
        }
        out += "}}";
        break;
    }
    case SearchShape::RepeatedSlug:
        out += "{\"slug\":\"a\"";
        while (size() < bytes)
            out += ",\"slug\":\"a\"";
        out += '}';
        break;
    }
    out += "],\"nextPageToken\":\"\"}";
    return out;
}
