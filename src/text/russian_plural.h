#pragma once
// The form of a Russian noun after a number: "1 секунду", "3 секунды",
// "5 секунд", "11 секунд", "2.5 секунды".

#include <QString>

#include <cstdint>

// A noun's forms after a number, in the case its sentence needs.
struct CountForms {
    const char16_t* one;      // after 1, 21, 31, 101, ... (not 11)
    const char16_t* few;      // after 2–4, 22–24, ... (not 12–14)
    const char16_t* many;     // after 0, 5–20, 25–30, ...
    const char16_t* fraction; // after a number with a fractional part: the genitive singular
};

// The form after the whole number `n` (its sign ignored).
const char16_t* CountForm(std::int64_t n, const CountForms& forms);

// `value` to at most `decimals` places, trailing zeros dropped ("12.5",
// "25"), a space, and the noun in the form that number takes.
QString CountedText(double value, int decimals, const CountForms& forms);
