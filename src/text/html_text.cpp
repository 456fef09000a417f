#include "text/html_text.h"

#include "text/extract.h"

#include <array>
#include <cstdint>

QString StreamToText(const QByteArray* body) {
    if (body == nullptr)
        return {};
    return QString::fromUtf8(*body);
}

QString StreamToText(const QByteArray& body) { return QString::fromUtf8(body); }

namespace {

struct NamedReference {
    QStringView name; // without the leading "&", with the ";"
    char16_t character;
};

constexpr std::array<NamedReference, 7> kNamedReferences{{
    {u"amp;", u'&'},
    {u"lt;", u'<'},
    {u"gt;", u'>'},
    {u"laquo;", u'\u00AB'},
    {u"raquo;", u'\u00BB'},
    {u"nbsp;", u' '},
    {u"quot;", u'"'},
}};

bool IsAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

} // namespace

QString HtmlDecode(QStringView text) {
    qsizetype n = text.indexOf(QChar(0));
    if (n < 0)
        n = text.size();
    if (text.left(n).indexOf(QLatin1Char('&')) < 0)
        return text.left(n).toString();

    QString out(n, Qt::Uninitialized);
    QChar* o = out.data();
    qsizetype w = 0;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            o[w++] = c;
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break; // a lone "&" at the end is dropped
        const QStringView rest = text.mid(i + 1, n - i - 1);
        bool named = false;
        for (const NamedReference& ref : kNamedReferences) {
            if (rest.startsWith(ref.name)) {
                o[w++] = QChar(ref.character);
                i += 1 + ref.name.size();
                named = true;
                break;
            }
        }
        if (named)
            continue;
        if (text[i + 1] == QLatin1Char('#')) {
            // The reference runs over every "#" and digit; its number is the
            // digits right after the first "#". Unsigned arithmetic wraps, which
            // keeps the low 16 bits exact however long the digit run is.
            qsizetype j = i + 2;
            std::uint32_t value = 0;
            bool inNumber = true;
            while (j < n && (text[j] == QLatin1Char('#') || IsAsciiDigit(text[j]))) {
                if (inNumber && IsAsciiDigit(text[j]))
                    value = value * 10u + static_cast<std::uint32_t>(text[j].unicode() - u'0');
                else
                    inNumber = false;
                ++j;
            }
            o[w++] = QChar(static_cast<char16_t>(value & 0xFFFFu));
            if (j < n)
                ++j; // the character that ends the run goes too, normally ";"
            i = j;
            continue;
        }
        // Not a reference: "&" and the next character are copied as they are,
        // and that character is not examined again.
        o[w++] = c;
        o[w++] = text[i + 1];
        i += 2;
    }
    out.truncate(w);
    return out;
}

namespace {

struct Replacement {
    QStringView find;
    QStringView with;
};

constexpr std::array<Replacement, 15> kCleanups{{
    {u"&nbsp;", u" "},
    {u"&bull;", u"-"},
    {u"&times;", u"x"},
    {u"&quot;", u"\""},
    {u"&mdash;", u"-"},
    {u"&ndash;", u"-"},
    {u"&laquo;", u"\""},
    {u"&raquo;", u"\""},
    {u"&lt;", u"<"},
    {u"&gt;", u">"},
    {u"&#039;", u"'"},
    {u";", u","},
    {u"<br>", u" "},
    {u"\r", u""},
    {u"\n", u""},
}};

} // namespace

QString CleanHtmlText(QStringView text) {
    QString s = HtmlDecode(text);
    for (const Replacement& r : kCleanups)
        s = ReplaceAll(s, r.find, r.with);

    // Tags: from each "<" through the next ">", or to the end when no ">"
    // follows. Text before the first "<" never holds one, so a single pass
    // gives the same result as deleting the first tag over and over.
    const qsizetype firstTag = s.indexOf(QLatin1Char('<'));
    if (firstTag < 0)
        return s;
    QString out;
    out.reserve(s.size());
    out.append(QStringView(s).left(firstTag));
    qsizetype i = firstTag;
    while (i < s.size()) {
        const qsizetype lt = s.indexOf(QLatin1Char('<'), i);
        if (lt < 0) {
            out.append(QStringView(s).mid(i));
            break;
        }
        out.append(QStringView(s).mid(i, lt - i));
        const qsizetype gt = s.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            break;
        i = gt + 1;
    }
    return out;
}
