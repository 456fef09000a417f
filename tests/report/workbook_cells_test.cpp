// How the workbook types each field of the result file: numbers, links,
// values that must stay plain text, and the CSV's workarounds undone.
#include "report/workbook_cells.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Readable cells in failure messages.
void PrintTo(const WorkbookCell& cell, std::ostream* os) {
    static const char* const kinds[] = {"Text", "Number", "Link"};
    *os << kinds[static_cast<int>(cell.kind)] << "(" << cell.text.toStdString() << ", "
        << cell.number << ", " << cell.target.toStdString() << ")";
}

namespace {

constexpr int kUrl = 0, kName = 1, kRating = 4, kReviews = 5, kPhone = 6, kSite = 7, kEmail = 8;

WorkbookCell Text(const QString& text) {
    return {WorkbookCell::Kind::Text, text, 0, {}};
}
WorkbookCell Number(double value) {
    return {WorkbookCell::Kind::Number, {}, value, {}};
}
WorkbookCell Link(const QString& text, const QString& target) {
    return {WorkbookCell::Kind::Link, text, 0, target};
}

struct Case {
    int column;
    QString field; // as the CSV holds it
    WorkbookCell cell;
};

TEST(WorkbookCells, EachColumnTypesItsValues) {
    const QString longPath = u"https://x.ru/"_s + QString(2079 - 13, u'a');
    const QString quotePath = u"https://x.ru/\""_s + QString(2079 - 15, u'a'); // " counts 3
    const Case cases[] = {
        // Rating and reviews: the whole text a number, comma or point.
        {kRating, u"4,8"_s, Number(4.8)},
        {kRating, u"4.8"_s, Number(4.8)},
        {kRating, u"0,5"_s, Number(0.5)},
        {kReviews, u"12"_s, Number(12)},
        {kReviews, u"0"_s, Number(0)},
        {kReviews, u"123456789012345"_s, Number(123456789012345.0)},
        {kReviews, u"1234567890123456"_s, Text(u"1234567890123456"_s)}, // not exact as a double
        {kReviews, u"007"_s, Text(u"007"_s)},
        {kRating, u"4,8,1"_s, Text(u"4,8,1"_s)},
        {kRating, u",5"_s, Text(u",5"_s)},
        {kRating, u"5."_s, Text(u"5."_s)},
        {kRating, u"4.8 из 5"_s, Text(u"4.8 из 5"_s)},
        {kReviews, u"1 234"_s, Text(u"1 234"_s)},
        {kReviews, u"1e5"_s, Text(u"1e5"_s)},
        {kReviews, u"１２"_s, Text(u"１２"_s)},
        {kReviews, u"'-5"_s, Text(u"-5"_s)}, // guarded in the CSV; a sign makes it text
        {kName, u"12"_s, Text(u"12"_s)},     // other columns never hold numbers
        {kPhone, u" 89001234567"_s, Text(u"89001234567"_s)},

        // The URL and the site: http and https addresses only.
        {kUrl, u"https://x.ru/pro/a"_s, Link(u"https://x.ru/pro/a"_s, u"https://x.ru/pro/a"_s)},
        {kSite, u"HTTP://Мастер.рф/?a=1#b"_s,
         Link(u"HTTP://Мастер.рф/?a=1#b"_s, u"HTTP://Мастер.рф/?a=1#b"_s)},
        {kSite, longPath, Link(longPath, longPath)},
        {kSite, longPath + u"a"_s, Text(longPath + u"a"_s)}, // past Excel's 2,079
        {kSite, quotePath, Text(quotePath)},
        {kSite, u"javascript:alert(1)"_s, Text(u"javascript:alert(1)"_s)},
        {kSite, u"file:///etc/passwd"_s, Text(u"file:///etc/passwd"_s)},
        {kSite, u"ftp://x.ru/"_s, Text(u"ftp://x.ru/"_s)},
        {kSite, u"data:text/html,<b>x</b>"_s, Text(u"data:text/html,<b>x</b>"_s)},
        {kSite, u"mailto:a@b.ru"_s, Text(u"mailto:a@b.ru"_s)},
        {kSite, u"www.x.ru"_s, Text(u"www.x.ru"_s)},
        {kSite, u"http://"_s, Text(u"http://"_s)},
        {kSite, u"https:///path"_s, Text(u"https:///path"_s)},
        {kSite, u" https://x.ru"_s, Text(u" https://x.ru"_s)},
        {kSite, u"https://x.ru/a b"_s, Text(u"https://x.ru/a b"_s)},
        {kSite, u"https://x.ru/\u202Egpj.exe"_s, Text(u"https://x.ru/\u202Egpj.exe"_s)},
        {kUrl, u"https://x.ru/\r\n"_s, Text(u"https://x.ru/\r\n"_s)},
        {kName, u"https://x.ru"_s, Text(u"https://x.ru"_s)}, // only the URL and the site

        // Email: one address only.
        {kEmail, u"ivan.petrov+job@mail.ru"_s,
         Link(u"ivan.petrov+job@mail.ru"_s, u"mailto:ivan.petrov+job@mail.ru"_s)},
        {kEmail, u"ivan@почта.рф"_s, Link(u"ivan@почта.рф"_s, u"mailto:ivan@почта.рф"_s)},
        {kEmail, u"a@b.ru, c@d.ru"_s, Text(u"a@b.ru, c@d.ru"_s)},
        {kEmail, u"a@b.ru;c@d.ru"_s, Text(u"a@b.ru;c@d.ru"_s)},
        {kEmail, u"a?cc=x@y.ru"_s, Text(u"a?cc=x@y.ru"_s)},
        {kEmail, u"a@b.ru?bcc=c@d.ru"_s, Text(u"a@b.ru?bcc=c@d.ru"_s)},
        {kEmail, u"mailto:a@b.ru"_s, Text(u"mailto:a@b.ru"_s)},
        {kEmail, u"a@b"_s, Text(u"a@b"_s)},
        {kEmail, u"a@-b.ru"_s, Text(u"a@-b.ru"_s)},
        {kEmail, u"a..b@c.ru"_s, Text(u"a..b@c.ru"_s)},
        {kEmail, u"a@b.r1"_s, Text(u"a@b.r1"_s)},
        {kEmail, u"иван@почта.рф"_s, Text(u"иван@почта.рф"_s)},
        {kEmail, u"'@handle"_s, Text(u"@handle"_s)},

        // Formula-like values: the CSV's apostrophe goes, the cell stays text.
        {kName, u"'=HYPERLINK('https://x.ru/';'Мастер')"_s,
         Text(u"=HYPERLINK('https://x.ru/';'Мастер')"_s)},
        {kName, u"'+Мастер на все руки"_s, Text(u"+Мастер на все руки"_s)},
        {kName, u"'-Скидка 20%-"_s, Text(u"-Скидка 20%-"_s)},
        {kSite, u"'=1+1"_s, Text(u"=1+1"_s)},
        {kName, u"'Кавычки'"_s, Text(u"'Кавычки'"_s)}, // an apostrophe of the value's own
        {kName, u"''=x"_s, Text(u"''=x"_s)},
        // The telephone has a space in front instead, and its apostrophes are
        // its own.
        {kPhone, u" +7 (900) 000-00-00"_s, Text(u"+7 (900) 000-00-00"_s)},
        {kPhone, u" '=x"_s, Text(u"'=x"_s)},
        {kPhone, u" "_s, Text(QString())},
        // The changes file's status and changed columns are text.
        {11, u"изменилась"_s, Text(u"изменилась"_s)},
        {12, u"Рейтинг, Отзывов"_s, Text(u"Рейтинг, Отзывов"_s)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CardCell(c.column, c.field), c.cell)
            << "column " << c.column << ": " << c.field.toStdString();
}

// A literal "_xHHHH_" would be read back as one escaped character; a text
// longer than a cell holds is cut without splitting a character.
TEST(WorkbookCells, CellTextKeepsEscapesLiteralAndFitsACell) {
    EXPECT_EQ(CellText(u"a_x0041_b"_s), u"a_x005F_x0041_b"_s);
    EXPECT_EQ(CellText(u"_x00e9__x12G4_ _x123_"_s), u"_x005F_x00e9__x12G4_ _x123_"_s);
    EXPECT_EQ(CardCell(kName, u"_x000D_"_s).text, u"_x005F_x000D_"_s);
    EXPECT_EQ(CellText(u"без экранов"_s), u"без экранов"_s);

    const QString exact(kMaxCellText, u'я');
    EXPECT_EQ(CellText(exact), exact);
    EXPECT_EQ(CellText(exact + u"я"_s), exact);
    const QString emoji = QString(kMaxCellText - 1, u'a') + u"😀"_s; // its pair straddles the end
    EXPECT_EQ(CellText(emoji), QString(kMaxCellText - 1, u'a'));
}

} // namespace
