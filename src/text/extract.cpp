#include "text/extract.h"

#include <cassert>

QString ExtractBetween(QStringView text, QStringView start, QStringView second, QStringView end) {
    qsizetype pos = 0;
    qsizetype markerLength = 0;
    if (!start.isEmpty()) {
        pos = text.indexOf(start);
        if (pos < 0)
            return {};
        markerLength = start.size();
    }
    if (!second.isEmpty()) {
        const qsizetype from = pos + markerLength;
        if (from > text.size())
            return {};
        pos = text.indexOf(second, from);
        if (pos < 0)
            return {};
        markerLength = second.size();
    }
    const qsizetype valueStart = pos + markerLength;
    qsizetype valueEnd = text.size();
    if (!end.isEmpty()) {
        if (valueStart > text.size())
            return {};
        valueEnd = text.indexOf(end, valueStart);
        if (valueEnd < 0)
            return {};
    }
    return text.mid(valueStart, valueEnd - valueStart).toString();
}

QString ReplaceAll(const QString& text, QStringView find, QStringView with) {
    if (find.isEmpty())
        return text;
    qsizetype at = text.indexOf(find);
    if (at < 0)
        return text;
    // One pass into a new string: QString::replace moves the rest of the text
    // once per batch of 1024 matches, quadratic on a text made of matches.
    QString result;
    result.reserve(text.size());
    qsizetype from = 0;
    for (; at >= 0; at = text.indexOf(find, from)) {
        result.append(QStringView(text).mid(from, at - from));
        result.append(with);
        from = at + find.size();
    }
    result.append(QStringView(text).mid(from));
    return result;
}

QString QuoteSafe(const QString& value) {
    QString result = value;
    result.replace(QLatin1Char('"'), QLatin1Char('\''));
    return result;
}

QStringView TrimControl(QStringView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= 32)
        ++first;
    while (last > first && text[last - 1].unicode() <= 32)
        --last;
    return text.mid(first, last - first);
}

qsizetype ForwardFinder::From(qsizetype from) {
    assert(from >= lastFrom_);
    lastFrom_ = from;
    if (found_ == -1 || found_ >= from)
        return found_;
    found_ = from > text_.size() ? -1 : text_.indexOf(needle_, from);
    return found_;
}
