#pragma once
// How the workbook shows one field of the result file (or of the changes
// file): the value without the CSV's own workarounds, as a number, a link or
// plain text. A cell's text is never read as a formula.

#include <QString>

// Excel's longest link address, in characters.
constexpr int kMaxLinkLength = 2079;
// Excel's longest cell text, in characters.
constexpr int kMaxCellText = 32767;

struct WorkbookCell {
    enum class Kind { Text, Number, Link };
    Kind kind = Kind::Text;
    QString text;      // what a Text or Link cell shows
    double number = 0; // a Number cell's value
    QString target;    // the address a Link opens

    bool operator==(const WorkbookCell&) const = default;
};

// The value the field of column `column` (the result file's order, from 0)
// held before the CSV framed it: the telephone without the space in front,
// every other field without the apostrophe the formula guard added. The
// changes file's two columns after the card's are taken like the others.
QString FieldValue(int column, const QString& field);

// The cell of a field of column `column`: "Рейтинг" and "Отзывов" a number
// when the whole value is one (digits with at most one decimal comma or
// point, and no leading zero before more digits); the URL and "Сайт" a link
// when the value is an http or https address Excel can hold; "Email" a mailto
// link when the value is one address; everything else text.
WorkbookCell CardCell(int column, const QString& field);

// `text` as a cell shows it: a literal "_xHHHH_" is kept from being read back
// as an escaped character, and the text is cut to kMaxCellText characters.
QString CellText(const QString& text);
