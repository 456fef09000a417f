#include "report/workbook_cells.h"

#include "text/formula_guard.h"

#include <QLocale>
#include <QStringList>

#include <optional>

namespace {

// Columns of the result file, from 0.
constexpr int kUrl = 0;
constexpr int kRating = 4;
constexpr int kReviews = 5;
constexpr int kTelephone = 6;
constexpr int kSite = 7;
constexpr int kEmail = 8;

// Beyond this many significant digits a double no longer holds the value
// exactly; such a value stays text.
constexpr int kExactDigits = 15;

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsHexDigit(QChar c) {
    return IsAsciiDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Digits with at most one decimal comma or point between digits.
std::optional<double> PlainNumber(const QString& value) {
    qsizetype separator = -1;
    int significant = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (IsAsciiDigit(c)) {
            if (significant > 0 || c != QLatin1Char('0'))
                ++significant;
        } else if ((c == QLatin1Char(',') || c == QLatin1Char('.')) && separator < 0 && i > 0 &&
                   i + 1 < value.size()) {
            separator = i;
        } else {
            return std::nullopt;
        }
    }
    const qsizetype whole = separator < 0 ? value.size() : separator;
    // "007" is how the site wrote it: kept as text.
    if (value.isEmpty() || (whole > 1 && value[0] == QLatin1Char('0')) ||
        significant > kExactDigits)
        return std::nullopt;
    QString point = value;
    point.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double number = QLocale::c().toDouble(point, &ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

// Characters that may not stand in a link: white space, control characters,
// and invisible formatting ones (a direction override would disguise it).
bool SpoilsLink(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control ||
           c.category() == QChar::Other_Format;
}

// The link's length as Excel counts it: characters, with those the writer
// escapes as %XX counted three times.
qsizetype LinkLength(const QString& address) {
    qsizetype length = 0;
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address[i];
        if (c.isLowSurrogate())
            continue; // counted with its high half
        ++length;
        const bool percentEscape = c == QLatin1Char('%') && i + 2 < address.size() &&
                                   IsHexDigit(address[i + 1]) && IsHexDigit(address[i + 2]);
        if (QStringView(u"\"<>\\[]^{}").contains(c) || (c == QLatin1Char('%') && !percentEscape))
            length += 2;
    }
    return length;
}

// An http or https address with a host, nothing in it that spoils a link,
// and short enough for Excel.
bool IsWebAddress(const QString& value) {
    qsizetype host = 0;
    if (value.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        host = 7;
    else if (value.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        host = 8;
    else
        return false;
    if (host >= value.size() || QStringView(u"/?#").contains(value[host]))
        return false;
    for (const QChar c : value) {
        if (SpoilsLink(c))
            return false;
    }
    return LinkLength(value) <= kMaxLinkLength;
}

// One plain address: a local part of ASCII letters, digits and "._+-"
// (no "?" or "&" that would add headers to the mail), "@", and a domain of
// at least two labels ending in a name of letters.
bool IsOneMailAddress(const QString& value) {
    const qsizetype at = value.indexOf(QLatin1Char('@'));
    if (at <= 0 || value.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return false;
    const QString local = value.left(at);
    if (local.startsWith(QLatin1Char('.')) || local.endsWith(QLatin1Char('.')) ||
        local.contains(QLatin1String("..")))
        return false;
    for (const QChar c : local) {
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && !QStringView(u"._+-").contains(c))
            return false;
    }
    const QStringList labels = value.mid(at + 1).split(QLatin1Char('.'));
    if (labels.size() < 2)
        return false;
    for (const QString& label : labels) {
        if (label.isEmpty() || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
                return false;
        }
    }
    const QString& top = labels.last();
    if (top.size() < 2)
        return false;
    for (const QChar c : top) {
        if (!c.isLetter())
            return false;
    }
    return LinkLength(QStringLiteral("mailto:") + value) <= kMaxLinkLength;
}

WorkbookCell TextCell(const QString& value) {
    return {WorkbookCell::Kind::Text, CellText(value), 0, {}};
}

WorkbookCell LinkCell(const QString& shown, const QString& target) {
    return {WorkbookCell::Kind::Link, CellText(shown), 0, target};
}

} // namespace

QString FieldValue(int column, const QString& field) {
    if (column == kTelephone)
        return field.startsWith(QLatin1Char(' ')) ? field.mid(1) : field;
    return UndoFormulaSafe(field);
}

WorkbookCell CardCell(int column, const QString& field) {
    const QString value = FieldValue(column, field);
    switch (column) {
    case kRating:
    case kReviews:
        if (const std::optional<double> number = PlainNumber(value))
            return {WorkbookCell::Kind::Number, {}, *number, {}};
        break;
    case kUrl:
    case kSite:
        if (IsWebAddress(value))
            return LinkCell(value, value);
        break;
    case kEmail:
        if (IsOneMailAddress(value))
            return LinkCell(value, QStringLiteral("mailto:") + value);
        break;
    default:
        break;
    }
    return TextCell(value);
}

QString CellText(const QString& text) {
    // A reader turns "_xHHHH_" into the character HHHH; "_x005F_" is the
    // escaped "_", after which the rest reads literally.
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('_') && i + 6 < text.size() && text[i + 1] == QLatin1Char('x') &&
            IsHexDigit(text[i + 2]) && IsHexDigit(text[i + 3]) && IsHexDigit(text[i + 4]) &&
            IsHexDigit(text[i + 5]) && text[i + 6] == QLatin1Char('_'))
            out += QLatin1String("_x005F");
        out += text[i];
    }
    if (out.size() > kMaxCellText) {
        qsizetype cut = kMaxCellText;
        if (out[cut - 1].isHighSurrogate())
            --cut; // a character is not split in two
        out.truncate(cut);
    }
    return out;
}
