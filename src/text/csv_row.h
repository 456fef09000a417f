#pragma once
// A card as a row of the result file's CSV: eleven quoted fields separated by
// ";", values kept from breaking the framing or being read as formulas.

#include "text/card_record.h"

#include <QIODevice>
#include <QString>

#include <functional>
#include <vector>

// The header line, without its line end.
QString CsvHeader();

// The text of a field between its quotes, as the row holds it: the value
// through QuoteSafe, then through FormulaSafe. A continued run compares its
// card URLs with the file's URL fields through it. Applying it twice gives
// what applying it once gives.
QString CsvFieldText(const QString& value);

// One card as a row, without its line end: eleven quoted fields separated by
// ";", none after the last; every value through CsvFieldText, except the
// telephone: its field holds a space and the value through QuoteSafe (the
// space already keeps a "+7 ..." from being read as a formula).
QString FormatCsvRow(const CardRecord& card);

// The card as its row holds it: every value as between its field's quotes,
// the telephone without the space in front. A card read back from a row is
// its own row form, so a row written again is the same row.
CardRecord CsvRowForm(const CardRecord& card);

// Reads the rows of a result file (byte order mark, header, rows ended by
// CR LF) and hands each row's card, in its row form, to `row`, in file order.
// A torn last line is left out; `complete` (when given) receives where the
// last complete line ends (0 when even the header is incomplete). False when
// the bytes are not a result file's.
bool ReadCsvRows(QIODevice& device, const std::function<void(CardRecord&&)>& row,
                 qint64* complete = nullptr);

// Reads a file framed like a result file (byte order mark, the `header`
// line, rows of `fields` quoted fields separated by ";", each row ended by
// CR LF; no field holds a double quote) and hands each row's field texts, as
// between their quotes, to `row`, in file order. A torn last line is left
// out; `complete` as for ReadCsvRows. False when the bytes are not such a
// file's.
bool ReadQuotedRows(QIODevice& device, const QString& header, int fields,
                    const std::function<void(std::vector<QString>&&)>& row,
                    qint64* complete = nullptr);
