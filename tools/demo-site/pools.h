#pragma once
// Fixed word lists the demo site builds its names, addresses and filler from.
// Every Cyrillic entry that ends up in a slug carries its Latin spelling.

#include <array>
#include <string_view>

namespace demo {

struct Spelled {
    std::string_view cyr;
    std::string_view lat;
};

struct CategoryDef {
    std::string_view name;
    std::string_view slug;
    std::array<std::string_view, 6> services;
};

struct CityDef {
    std::string_view name;
    int region; // index into kRegions; -1: "region": null; -2: no region member
};

extern const std::array<CategoryDef, 12> kCategories;
extern const std::array<std::string_view, 6> kRegions;
extern const std::array<CityDef, 12> kCities;

extern const std::array<Spelled, 16> kMaleNames;
extern const std::array<Spelled, 14> kFemaleNames;
// Male forms; the female form appends "а" / "a".
extern const std::array<Spelled, 32> kSurnames;
extern const std::array<std::string_view, 8> kMalePatronymics;
extern const std::array<std::string_view, 8> kFemalePatronymics;
extern const std::array<Spelled, 12> kFirmWords;
extern const std::array<std::string_view, 12> kStreets;
// Extra specialisations as page HTML and as the text it reads as.
struct Phrase {
    std::string_view html;
    std::string_view text;
};
extern const std::array<Phrase, 8> kSpecialities;
extern const std::array<std::string_view, 120> kWords;
extern const std::array<std::string_view, 16> kReviewers;

} // namespace demo
