// The form of a noun after a number, whole and fractional.
#include "text/russian_plural.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr CountForms kSeconds{u"секунду", u"секунды", u"секунд", u"секунды"};
constexpr CountForms kRequestsUpTo{u"запроса", u"запросов", u"запросов", u"запроса"};

} // namespace

TEST(RussianPlural, TheFormFollowsTheLastTwoDigits) {
    const std::pair<const char16_t*, std::vector<std::int64_t>> cases[] = {
        {u"секунду", {1, 21, 31, 101, 1001, -1}},
        {u"секунды", {2, 3, 4, 22, 24, 122, -23}},
        {u"секунд", {0, 5, 10, 11, 12, 14, 15, 20, 25, 30, 100, 111, 112, -13}},
    };
    for (const auto& [form, numbers] : cases) {
        for (const std::int64_t n : numbers)
            EXPECT_EQ(QString::fromUtf16(CountForm(n, kSeconds)), QString::fromUtf16(form)) << n;
    }
}

// A number shown with a fraction takes the genitive singular; one whose
// fraction rounds away is shown and declined as whole.
TEST(RussianPlural, CountedTextWholeAndFractional) {
    const std::tuple<double, int, const CountForms*, QString> cases[] = {
        {3, 0, &kSeconds, u"3 секунды"_s},
        {2.5, 1, &kSeconds, u"2.5 секунды"_s},
        {12.5, 1, &kRequestsUpTo, u"12.5 запроса"_s},
        {20.96, 1, &kSeconds, u"21 секунду"_s},
        {21.0, 1, &kRequestsUpTo, u"21 запроса"_s},
        {1.25, 2, &kRequestsUpTo, u"1.25 запроса"_s},
        {1.5, 2, &kRequestsUpTo, u"1.5 запроса"_s},
    };
    for (const auto& [value, decimals, forms, text] : cases)
        EXPECT_EQ(CountedText(value, decimals, *forms), text) << value;
}
