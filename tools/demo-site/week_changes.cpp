#include "week_changes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

namespace demo {

namespace {

struct Listed {
    bool row = false; // the program writes a row for it
    CardValues values;
};

// The cards a run over `pairs` collects, by lower-case slug.
std::map<std::string, Listed> Collect(const Site& site,
                                      const std::vector<std::pair<int, int>>& pairs) {
    std::map<std::string, Listed> cards;
    for (const auto& [row, category] : pairs) {
        for (const CardRef& ref : site.pairCards(row, category)) {
            const Card card = site.card(ref.id);
            if (cards.count(card.slug) != 0)
                continue;
            Listed& listed = cards[card.slug];
            listed.row = !site.gone(ref.id) && (card.fault == nullptr || card.fault->rowExpected);
            if (listed.row)
                listed.values = site.values(card);
        }
    }
    return cards;
}

bool SameValues(const CardValues& a, const CardValues& b) {
    return a.name == b.name && a.categories == b.categories && a.services == b.services &&
           a.rating == b.rating && a.reviews == b.reviews && a.telephone == b.telephone &&
           a.site == b.site && a.email == b.email && a.city == b.city && a.address == b.address;
}

} // namespace

WeekChanges CompareWeeks(const Site& before, const Site& after,
                         const std::vector<std::pair<int, int>>& pairs) {
    WeekChanges changes;
    changes.since = before.week();
    changes.week = after.week();
    const std::map<std::string, Listed> then = Collect(before, pairs);
    const std::map<std::string, Listed> now = Collect(after, pairs);
    changes.cards = static_cast<long long>(now.size());
    for (const auto& [slug, card] : now) {
        const auto earlier = then.find(slug);
        const bool rowThen = earlier != then.end() && earlier->second.row;
        if (card.row && !rowThen)
            ++changes.fresh;
        else if (card.row)
            ++(SameValues(card.values, earlier->second.values) ? changes.unchanged
                                                               : changes.changed);
    }
    for (const auto& [slug, card] : then) {
        const auto later = now.find(slug);
        if (card.row && (later == now.end() || !later->second.row))
            ++changes.gone;
    }
    return changes;
}

std::vector<std::pair<int, int>> SelectPairs(const Site& site,
                                             const std::vector<std::string>& categories,
                                             const std::vector<std::string>& cityRows) {
    std::vector<std::pair<int, int>> pairs;
    for (std::size_t r = 0; r < site.rows().size(); ++r) {
        if (!cityRows.empty() &&
            std::find(cityRows.begin(), cityRows.end(), site.rows()[r].text) == cityRows.end())
            continue;
        for (std::size_t k = 0; k < site.categories().size(); ++k) {
            if (!categories.empty() && std::find(categories.begin(), categories.end(),
                                                 site.categories()[k].slug) == categories.end())
                continue;
            pairs.emplace_back(static_cast<int>(r), static_cast<int>(k));
        }
    }
    return pairs;
}

std::string WeekChangesJson(const WeekChanges& changes) {
    nlohmann::ordered_json doc;
    doc["since"] = changes.since;
    doc["week"] = changes.week;
    doc["cards"] = changes.cards;
    doc["new"] = changes.fresh;
    doc["changed"] = changes.changed;
    doc["unchanged"] = changes.unchanged;
    doc["gone"] = changes.gone;
    return doc.dump() + "\n";
}

} // namespace demo
