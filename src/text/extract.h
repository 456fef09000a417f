#pragma once
// Cutting values out of text between fixed markers, and the replacements the
// result file needs. Pure functions; markers match exactly and case-sensitively.

#include <QString>
#include <QStringView>

// The text after the first `start` (or after the first `second` that begins
// after it, when `second` is not empty) up to the next `end`. An empty `start`
// means the beginning of the text, an empty `end` its end. Any required marker
// that is missing gives the empty string, never a partial value.
QString ExtractBetween(QStringView text, QStringView start, QStringView second, QStringView end);

// Every occurrence of `find` (not empty) replaced by `with`, in one left-to-right
// pass: inserted text is never scanned again.
QString ReplaceAll(const QString& text, QStringView find, QStringView with);

// Double quotes become apostrophes, so that a value can stand between quotes
// in the result file.
QString QuoteSafe(const QString& value);

// Characters with codes up to 32 removed from both ends.
QStringView TrimControl(QStringView text);

// The first occurrence of a fixed needle at or after a position, for
// positions that never move backwards: an occurrence found is kept while the
// positions have not passed it, so every part of the text is searched once
// however many times it is asked about. Text and needle must outlive it.
class ForwardFinder {
public:
    ForwardFinder(QStringView text, QStringView needle) : text_(text), needle_(needle) {}

    // The first occurrence beginning at or after `from`, or -1. `from` is not
    // less than in the previous call.
    qsizetype From(qsizetype from);

private:
    QStringView text_;
    QStringView needle_;
    qsizetype lastFrom_ = 0;
    qsizetype found_ = -2; // -2 not searched yet, -1 none at or after lastFrom_
};
