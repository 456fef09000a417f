// The form of a noun after a number, whole and fractional.
#include "text/russian_plural.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr CountForms kSeconds{u"секунду", u"секунды", u"секунд", u"секунды"};
constexpr CountForms kRequestsUpTo{u"запроса", u"запросов", u"запросов", u"запроса"};

} // namespace

TEST(RussianPlural, TheFormFollowsTheLastTwoDigits) {
    const std::pair<std::int64_t, const char16_t*> cases[] = {
        {0, u"секунд"},   {1, u"секунду"},   {2, u"секунды"},    {4, u"секунды"},
        {5, u"секунд"},   {10, u"секунд"},   {11, u"секунд"},    {12, u"секунд"},
        {14, u"секунд"},  {15, u"секунд"},   {20, u"секунд"},    {21, u"секунду"},
        {22, u"секунды"}, {24, u"секунды"},  {25, u"секунд"},    {30, u"секунд"},
        {31, u"секунду"}, {100, u"секунд"},  {101, u"секунду"},  {111, u"секунд"},
        {112, u"секунд"}, {122, u"секунды"}, {1001, u"секунду"}, {-1, u"секунду"},
        {-13, u"секунд"}, {-23, u"секунды"},
    };
    for (const auto& [n, form] : cases)
        EXPECT_EQ(QString::fromUtf16(CountForm(n, kSeconds)), QString::fromUtf16(form)) << n;
}

// A number shown with a fraction takes the genitive singular; one whose
// fraction rounds away is shown and declined as whole.
TEST(RussianPlural, CountedTextWholeAndFractional) {
    const std::tuple<double, int, const CountForms*, QString> cases[] = {
        {1, 0, &kSeconds, u"1 секунду"_s},
        {3, 0, &kSeconds, u"3 секунды"_s},
        {600, 0, &kSeconds, u"600 секунд"_s},
        {2.5, 1, &kSeconds, u"2.5 секунды"_s},
        {12.5, 1, &kRequestsUpTo, u"12.5 запроса"_s},
        {3.125, 1, &kRequestsUpTo, u"3.1 запроса"_s},
        {25.0, 1, &kRequestsUpTo, u"25 запросов"_s},
        {24.96, 1, &kRequestsUpTo, u"25 запросов"_s},
        {21.0, 1, &kRequestsUpTo, u"21 запроса"_s},
        {2.0, 1, &kRequestsUpTo, u"2 запросов"_s},
        {1.25, 2, &kRequestsUpTo, u"1.25 запроса"_s},
        {1.5, 2, &kRequestsUpTo, u"1.5 запроса"_s},
    };
    for (const auto& [value, decimals, forms, text] : cases)
        EXPECT_EQ(CountedText(value, decimals, *forms), text) << value;
}
