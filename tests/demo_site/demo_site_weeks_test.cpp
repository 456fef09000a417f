// Later editions of the demo site: what changes from week to week, the
// counts /__demo/changes gives for them, and pages that follow suit.

#include "demo_site/site_client.h"
#include "support/demo_site_process.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using Json = nlohmann::json;

const std::vector<std::string> kCategories = {"santehniki", "elektriki"};
const std::vector<std::string> kCities = {"Москва--Москва и Московская область",
                                          "Москва и Московская область",
                                          "Казань--Республика Татарстан"};

struct Counts {
    long long cards = 0, fresh = 0, changed = 0, unchanged = 0, gone = 0;
    bool operator==(const Counts&) const = default;
};

void PrintTo(const Counts& c, std::ostream* os) {
    *os << "{cards " << c.cards << ", new " << c.fresh << ", changed " << c.changed
        << ", unchanged " << c.unchanged << ", gone " << c.gone << "}";
}

bool Selected(const Json& pair) {
    return std::count(kCategories.begin(), kCategories.end(), pair["category"]) != 0 &&
           std::count(kCities.begin(), kCities.end(), pair["city"]) != 0;
}

// The selection's cards by lower-case slug: whether the program writes a row
// for each, as the expected data says.
std::map<std::string, const Json*> Listed(const Json& expected) {
    std::map<std::string, const Json*> cards;
    for (const Json& pair : expected["pairs"]) {
        if (!Selected(pair))
            continue;
        for (const Json& slug : pair["cards"]) {
            const std::string lower = QString::fromStdString(slug).toLower().toStdString();
            cards[lower] = &expected["cards"][lower];
        }
    }
    return cards;
}

// What two runs over the selection would compare to, worked out from the
// two weeks' expected data alone; every changed card has exactly one of the
// four changeable values changed.
Counts Compare(const Json& before, const Json& after) {
    const auto then = Listed(before);
    const auto now = Listed(after);
    Counts counts;
    counts.cards = static_cast<long long>(now.size());
    for (const auto& [slug, card] : now) {
        const auto earlier = then.find(slug);
        const bool rowThen = earlier != then.end() && (*earlier->second)["row"].get<bool>();
        if (!(*card)["row"].get<bool>())
            continue;
        if (!rowThen) {
            ++counts.fresh;
            continue;
        }
        std::vector<std::string> differ;
        for (const auto& [key, value] : (*card)["values"].items()) {
            if ((*earlier->second)["values"][key] != value)
                differ.push_back(key);
        }
        if (differ.empty()) {
            ++counts.unchanged;
        } else {
            ++counts.changed;
            EXPECT_EQ(differ.size(), 1u) << slug;
            EXPECT_TRUE(std::set<std::string>({"telephone", "address", "rating", "reviews"})
                            .count(differ[0]))
                << slug << " " << differ[0];
        }
    }
    for (const auto& [slug, card] : then) {
        const auto later = now.find(slug);
        if ((*card)["row"].get<bool>() &&
            (later == now.end() || !(*later->second)["row"].get<bool>()))
            ++counts.gone;
    }
    return counts;
}

Counts Reported(const DemoSiteProcess& site, const std::string& query) {
    std::string url = "/__demo/changes?" + query;
    for (const std::string& category : kCategories)
        url += "&category=" + category;
    for (const std::string& city : kCities) {
        char* escaped = curl_easy_escape(nullptr, city.c_str(), static_cast<int>(city.size()));
        url += std::string("&city=") + escaped;
        curl_free(escaped);
    }
    const Json doc = ParseJson(Fetch(site.caFile(), site.webUrl(url)).body);
    return {doc["cards"], doc["new"], doc["changed"], doc["unchanged"], doc["gone"]};
}

TEST(DemoSiteWeeks, ChangeAboutFivePercentAWeekAndSayHowMuch) {
    const std::vector<std::string> common = {"--faults", "--scale", "50", "--seed", "7"};
    std::vector<std::string> weekTwo = common;
    weekTwo.insert(weekTwo.end(), {"--week", "2"});
    DemoSiteProcess week0(common);
    DemoSiteProcess week2(weekTwo);
    ASSERT_TRUE(week0.started()) << week0.error();
    ASSERT_TRUE(week2.started()) << week2.error();
    const Json before = ParseJson(Fetch(week0.caFile(), week0.webUrl("/__demo/expected")).body);
    const Json after = ParseJson(Fetch(week2.caFile(), week2.webUrl("/__demo/expected")).body);
    ASSERT_EQ(after["week"], 2);

    const Counts expected = Compare(before, after);
    EXPECT_EQ(Reported(week2, "since=0"), expected);
    // About 10 % each in week 2: the selection has some 250 cards.
    const long long base = static_cast<long long>(Listed(before).size());
    for (long long count : {expected.fresh, expected.changed, expected.gone}) {
        EXPECT_GE(count * 20, base) << count << " of " << base;
        EXPECT_LE(count * 5, base) << count << " of " << base;
    }
    // Compared with itself, nothing has changed: the third run's counts.
    const Counts same = Reported(week2, "since=2");
    EXPECT_EQ(same, (Counts{expected.cards, 0, 0,
                            expected.fresh + expected.changed + expected.unchanged, 0}));
    // Pages follow: a gone card answers 404 (listed or not), a new one only
    // exists in the later week; the lists page through every card.
    int goneSeen = 0;
    int newSeen = 0;
    int delisted = 0;
    const auto then = Listed(before);
    const auto now = Listed(after);
    for (const auto& [slug, card] : then) {
        const bool gone = !now.count(slug) || (*now.at(slug))["gone"].get<bool>();
        if (!gone || (*card)["fault"] != "")
            continue;
        delisted += now.count(slug) ? 0 : 1;
        EXPECT_EQ(Fetch(week2.caFile(), week2.webUrl("/pro/" + slug)).status, 404) << slug;
        EXPECT_EQ(Fetch(week0.caFile(), week0.webUrl("/pro/" + slug)).status, 200) << slug;
        ++goneSeen;
    }
    for (const auto& [slug, card] : now) {
        if (then.count(slug))
            continue;
        EXPECT_EQ(Fetch(week2.caFile(), week2.webUrl("/pro/" + slug)).status, 200) << slug;
        EXPECT_EQ(Fetch(week0.caFile(), week0.webUrl("/pro/" + slug)).status, 404) << slug;
        ++newSeen;
    }
    EXPECT_EQ(goneSeen, expected.gone);
    EXPECT_GT(delisted, 0);
    EXPECT_LT(delisted, goneSeen);
    EXPECT_EQ(newSeen, expected.fresh);
    // Lists that grew or shrank page by what they hold now (50 cards fill
    // two pages in week 0).
    int resized = 0;
    for (const Json& pair : after["pairs"]) {
        const std::size_t cards = pair["cards"].size();
        EXPECT_EQ(pair["pages"], (cards + 24) / 25) << pair["path"];
        resized += pair["pages"] != 2 ? 1 : 0;
    }
    EXPECT_GT(resized, 0);
}

} // namespace
