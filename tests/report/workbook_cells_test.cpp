// How the workbook types each field of the result file: numbers, links,
// values that must stay plain text, the CSV's workarounds undone, and what a
// cell cannot hold.
#include "report/workbook_cells.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Readable cells in failure messages.
void PrintTo(const WorkbookCell& cell, std::ostream* os) {
    *os << "kind " << static_cast<int>(cell.kind) << " (" << cell.text.toStdString() << ", "
        << cell.number << ", " << cell.target.toStdString() << ")";
}

namespace {

constexpr int kUrl = 0, kName = 1, kRating = 4, kReviews = 5, kPhone = 6, kSite = 7, kEmail = 8;
using Kind = WorkbookCell::Kind;

TEST(WorkbookCells, EachColumnTypesItsValues) {
    const QString longLink = u"https://x.ru/"_s + QString(2066, u'a'); // Excel's 2,079
    const QString full(kMaxCellText, u'я');
    // Fields that are text and stay exactly as the CSV holds them.
    const std::pair<int, QStringList> plain[] = {
        {kRating, {u"4,8,1"_s, u",5"_s, u"5."_s, u"4.8 из 5"_s}},
        {kReviews, {u"1234567890123456"_s, u"007"_s, u"1 234"_s, u"1e5"_s, u"１２"_s}},
        {kSite,
         {longLink + u"a"_s, u"https://x.ru/\""_s + QString(2064, u'a'), // " counts three
          u"javascript:alert(1)"_s, u"file:///etc/passwd"_s, u"ftp://x.ru/"_s,
          u"data:text/html,<b>x</b>"_s, u"mailto:a@b.ru"_s, u"www.x.ru"_s, u"http://"_s,
          u"https:///path"_s, u" https://x.ru"_s, u"https://x.ru/a b"_s,
          u"https://x.ru/\u202Egpj.exe"_s}},
        {kEmail,
         {u"a@b.ru, c@d.ru"_s, u"a@b.ru;c@d.ru"_s, u"a?cc=x@y.ru"_s, u"a@b.ru?bcc=c@d.ru"_s,
          u"mailto:a@b.ru"_s, u"a@b"_s, u"a@-b.ru"_s, u"a..b@c.ru"_s, u"a@b.r1"_s,
          u"иван@почта.рф"_s}},
        {kName, {u"12"_s, u"https://x.ru"_s, u"'Кавычки'"_s, u"''=x"_s}},
        {12, {u"Рейтинг, Отзывов"_s}}, // the changes file's changed columns
    };
    for (const auto& [column, fields] : plain) {
        for (const QString& field : fields)
            EXPECT_EQ(CardCell(column, field), (WorkbookCell{Kind::Text, field, 0, {}}))
                << column << ": " << field.toStdString();
    }
    // Text without the CSV's workarounds, or cut to what a cell holds.
    const std::tuple<int, QString, QString> text[] = {
        {kName, u"'=HYPERLINK('https://x.ru/';'М')"_s, u"=HYPERLINK('https://x.ru/';'М')"_s},
        {kName, u"'+Мастер"_s, u"+Мастер"_s},
        {kReviews, u"'-5"_s, u"-5"_s},
        {kEmail, u"'@handle"_s, u"@handle"_s},
        {kPhone, u" +7 (900) 000-00-00"_s, u"+7 (900) 000-00-00"_s}, // a space instead
        {kPhone, u" '=x"_s, u"'=x"_s},
        {kName, u"a_x0041_b _x12G4_ _x123_"_s, u"a_x005F_x0041_b _x12G4_ _x123_"_s},
        {kName, full + u"я"_s, full},
        {kName, full.left(kMaxCellText - 1) + u"😀"_s, full.left(kMaxCellText - 1)},
    };
    for (const auto& [column, field, shown] : text)
        EXPECT_EQ(CardCell(column, field), (WorkbookCell{Kind::Text, shown, 0, {}})) << column;
    // Numbers, and links showing the value.
    const std::tuple<int, QString, double, QString> typed[] = {
        {kRating, u"4,8"_s, 4.8, {}},
        {kRating, u"4.8"_s, 4.8, {}},
        {kReviews, u"0"_s, 0, {}},
        {kReviews, u"123456789012345"_s, 123456789012345.0, {}},
        {kUrl, u"https://x.ru/pro/a"_s, 0, u"https://x.ru/pro/a"_s},
        {kSite, u"HTTP://Мастер.рф/?a=1#b"_s, 0, u"HTTP://Мастер.рф/?a=1#b"_s},
        {kSite, longLink, 0, longLink},
        {kEmail, u"ivan.petrov+job@mail.ru"_s, 0, u"mailto:ivan.petrov+job@mail.ru"_s},
        {kEmail, u"ivan@почта.рф"_s, 0, u"mailto:ivan@почта.рф"_s}};
    for (const auto& [column, field, number, target] : typed) {
        const WorkbookCell want = target.isEmpty() ? WorkbookCell{Kind::Number, {}, number, {}}
                                                   : WorkbookCell{Kind::Link, field, 0, target};
        EXPECT_EQ(CardCell(column, field), want) << field.toStdString();
    }
}

} // namespace
