// How the workbook types each field of the result file: numbers, links,
// values that must stay plain text, the CSV's workarounds undone, and what a
// cell cannot hold.
#include "report/workbook_cells.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Readable cells in failure messages.
void PrintTo(const WorkbookCell& cell, std::ostream* os) {
    *os << "kind " << static_cast<int>(cell.kind) << " (" << cell.text.toStdString() << ", "
        << cell.number << ", " << cell.target.toStdString() << ")";
}

namespace {

constexpr int kUrl = 0, kName = 1, kRating = 4, kReviews = 5, kPhone = 6, kSite = 7, kEmail = 8;

// A field as the CSV holds it and its cell: text ('t', the field itself when
// `text` is null), a number ('n', written in `text`) or a link ('l' to
// `target`, showing the field).
struct Case {
    int column;
    QString field;
    QString text = {};
    char kind = 't';
    QString target = {};
};

TEST(WorkbookCells, EachColumnTypesItsValues) {
    const QString longLink = u"https://x.ru/"_s + QString(2066, u'a'); // Excel's 2,079
    const QString quoted = u"https://x.ru/\""_s + QString(2064, u'a'); // " counts three
    const QString full(kMaxCellText, u'я');
    const Case cases[] = {
        // Rating and reviews: numbers when the whole text is one.
        {kRating, u"4,8"_s, u"4.8"_s, 'n'},
        {kRating, u"4.8"_s, u"4.8"_s, 'n'},
        {kRating, u"0,5"_s, u"0.5"_s, 'n'},
        {kReviews, u"0"_s, u"0"_s, 'n'},
        {kReviews, u"123456789012345"_s, u"123456789012345"_s, 'n'},
        {kReviews, u"1234567890123456"_s}, // a double no longer holds it
        {kReviews, u"007"_s},
        {kRating, u"4,8,1"_s},
        {kRating, u",5"_s},
        {kRating, u"5."_s},
        {kRating, u"4.8 из 5"_s},
        {kReviews, u"1 234"_s},
        {kReviews, u"1e5"_s},
        {kReviews, u"１２"_s},
        {kReviews, u"'-5"_s, u"-5"_s},
        {kName, u"12"_s},
        // The URL and the site: http and https addresses Excel can hold.
        {kUrl, u"https://x.ru/pro/a"_s, {}, 'l', u"https://x.ru/pro/a"_s},
        {kSite, u"HTTP://Мастер.рф/?a=1#b"_s, {}, 'l', u"HTTP://Мастер.рф/?a=1#b"_s},
        {kSite, longLink, {}, 'l', longLink},
        {kSite, longLink + u"a"_s},
        {kSite, quoted},
        {kSite, u"javascript:alert(1)"_s},
        {kSite, u"file:///etc/passwd"_s},
        {kSite, u"ftp://x.ru/"_s},
        {kSite, u"data:text/html,<b>x</b>"_s},
        {kSite, u"mailto:a@b.ru"_s},
        {kSite, u"www.x.ru"_s},
        {kSite, u"http://"_s},
        {kSite, u"https:///path"_s},
        {kSite, u" https://x.ru"_s},
        {kSite, u"https://x.ru/a b"_s},
        {kSite, u"https://x.ru/\u202Egpj.exe"_s},
        {kName, u"https://x.ru"_s},
        // Email: one address only.
        {kEmail, u"ivan.petrov+job@mail.ru"_s, {}, 'l', u"mailto:ivan.petrov+job@mail.ru"_s},
        {kEmail, u"ivan@почта.рф"_s, {}, 'l', u"mailto:ivan@почта.рф"_s},
        {kEmail, u"a@b.ru, c@d.ru"_s},
        {kEmail, u"a@b.ru;c@d.ru"_s},
        {kEmail, u"a?cc=x@y.ru"_s},
        {kEmail, u"a@b.ru?bcc=c@d.ru"_s},
        {kEmail, u"mailto:a@b.ru"_s},
        {kEmail, u"a@b"_s},
        {kEmail, u"a@-b.ru"_s},
        {kEmail, u"a..b@c.ru"_s},
        {kEmail, u"a@b.r1"_s},
        {kEmail, u"иван@почта.рф"_s},
        {kEmail, u"'@handle"_s, u"@handle"_s},
        // Formula-like values lose the CSV's apostrophe and stay text; the
        // telephone loses its space instead.
        {kName, u"'=HYPERLINK('https://x.ru/';'М')"_s, u"=HYPERLINK('https://x.ru/';'М')"_s},
        {kName, u"'+Мастер"_s, u"+Мастер"_s},
        {kSite, u"'=1+1"_s, u"=1+1"_s},
        {kName, u"'Кавычки'"_s},
        {kName, u"''=x"_s},
        {kPhone, u" +7 (900) 000-00-00"_s, u"+7 (900) 000-00-00"_s},
        {kPhone, u" '=x"_s, u"'=x"_s},
        {kPhone, u" 8900"_s, u"8900"_s},
        // A literal "_xHHHH_" is kept from being read back as one escaped
        // character; a text longer than a cell holds is cut, not inside a
        // character.
        {kName, u"a_x0041_b _x12G4_ _x123_"_s, u"a_x005F_x0041_b _x12G4_ _x123_"_s},
        {kName, full + u"я"_s, full},
        {kName, full.left(kMaxCellText - 1) + u"😀"_s, full.left(kMaxCellText - 1)},
        // The changes file's status and changed columns.
        {12, u"Рейтинг, Отзывов"_s}};
    for (const Case& c : cases) {
        WorkbookCell want{WorkbookCell::Kind::Text, c.text.isNull() ? c.field : c.text, 0, {}};
        if (c.kind == 'n')
            want = {WorkbookCell::Kind::Number, {}, c.text.toDouble(), {}};
        if (c.kind == 'l')
            want = {WorkbookCell::Kind::Link, c.field, 0, c.target};
        EXPECT_EQ(CardCell(c.column, c.field), want) << c.column << ": " << c.field.toStdString();
    }
}

} // namespace
