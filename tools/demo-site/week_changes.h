#pragma once
// What a run of the program on a later week finds changed against a run on
// an earlier week, for a selection of pairs: the counts its comparison line
// should show.

#include "site_model.h"

#include <string>
#include <utility>
#include <vector>

namespace demo {

struct WeekChanges {
    int since = 0;
    int week = 0;
    long long cards = 0;     // cards the later run collects
    long long fresh = 0;     // with a row now, none (or not listed) then
    long long changed = 0;   // a row both times, some value differs
    long long unchanged = 0; // a row both times, the same values
    long long gone = 0;      // a row then; now not listed, or its page answers 404
};

// `pairs` holds (row index, category index) pairs; both sites have the same
// seed, scale and faults.
WeekChanges CompareWeeks(const Site& before, const Site& after,
                         const std::vector<std::pair<int, int>>& pairs);

// The pairs of the categories (slugs) and city rows (row texts) named; an
// empty list names all. Unknown names are left out.
std::vector<std::pair<int, int>> SelectPairs(const Site& site,
                                             const std::vector<std::string>& categories,
                                             const std::vector<std::string>& cityRows);

std::string WeekChangesJson(const WeekChanges& changes);

} // namespace demo
