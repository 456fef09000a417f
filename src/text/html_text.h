#pragma once
// Turning response bodies and page fragments into text.

#include <QByteArray>
#include <QString>
#include <QStringView>

// A response body as text: its bytes decoded as UTF-8, invalid sequences
// replaced by U+FFFD. A null body gives the empty string.
QString StreamToText(const QByteArray* body);
QString StreamToText(const QByteArray& body);

// Decodes &amp; &lt; &gt; &laquo; &raquo; &nbsp; (as a plain space) &quot; and
// decimal references "&#NNN;" in one pass. Stops at the first U+0000 of the
// input. Never longer than its input; never fails.
QString HtmlDecode(QStringView text);

// A page fragment as one line of plain text: references decoded, a fixed list
// of entities and characters rewritten (";" becomes ","), line breaks dropped,
// tags removed. Not trimmed.
QString CleanHtmlText(QStringView text);
