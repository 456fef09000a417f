// Response bodies to text, reference decoding and one-line cleanup of page
// fragments.
#include "text/html_text.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace {

QString Nul() {
    return QString(QChar(0));
}

} // namespace

TEST(StreamToText, NullEmptyAndUtf8) {
    EXPECT_EQ(StreamToText(nullptr), QString());
    const QByteArray empty;
    EXPECT_EQ(StreamToText(&empty), QString());
    EXPECT_EQ(StreamToText(empty), QString());

    const QByteArray cyrillic("\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 \xE2\x80\x94 ok");
    EXPECT_EQ(StreamToText(&cyrillic), u"Москва — ok"_s);
    EXPECT_EQ(StreamToText(cyrillic), u"Москва — ok"_s);

    // Bytes are not cut at a zero byte.
    const QByteArray withZero("a\0b", 3);
    EXPECT_EQ(StreamToText(&withZero), u"a"_s + Nul() + u"b"_s);
}

TEST(StreamToText, InvalidUtf8BecomesReplacementCharacter) {
    const QByteArray bad("a\xFF"
                         "b\xD0");
    const QString text = StreamToText(&bad);
    EXPECT_EQ(text, u"a\uFFFDb\uFFFD"_s);
    // A lone continuation byte between valid Cyrillic letters.
    const QByteArray mixed("\xD0\x96\x80\xD0\x96");
    EXPECT_EQ(StreamToText(mixed), u"Ж\uFFFDЖ"_s);
}

TEST(HtmlDecode, TextWithoutReferences) {
    EXPECT_EQ(HtmlDecode(u"plain <b>text</b>; #1"_s), u"plain <b>text</b>; #1"_s);
    EXPECT_EQ(HtmlDecode(QString()), QString());
    // A U+0000 in the input ends the text, with or without references.
    EXPECT_EQ(HtmlDecode(u"ab"_s + Nul() + u"cd"_s), u"ab"_s);
    EXPECT_EQ(HtmlDecode(u"a&amp;b"_s + Nul() + u"&amp;"_s), u"a&b"_s);
    EXPECT_EQ(HtmlDecode(Nul() + u"&amp;"_s), QString());
    // A reference cut by the U+0000 is not a reference.
    EXPECT_EQ(HtmlDecode(u"&amp"_s + Nul() + u";"_s), u"&amp"_s);
    EXPECT_EQ(HtmlDecode(u"a&"_s + Nul() + u"b"_s), u"a"_s);
}

TEST(HtmlDecode, NamedReferences) {
    EXPECT_EQ(HtmlDecode(u"&amp;"_s), u"&"_s);
    EXPECT_EQ(HtmlDecode(u"&lt;"_s), u"<"_s);
    EXPECT_EQ(HtmlDecode(u"&gt;"_s), u">"_s);
    EXPECT_EQ(HtmlDecode(u"&laquo;"_s), u"\u00AB"_s);
    EXPECT_EQ(HtmlDecode(u"&raquo;"_s), u"\u00BB"_s);
    EXPECT_EQ(HtmlDecode(u"&nbsp;"_s), u" "_s); // a plain space, not U+00A0
    EXPECT_EQ(HtmlDecode(u"&quot;"_s), u"\""_s);
    EXPECT_EQ(HtmlDecode(u"x&lt;y&gt;z&quot;&amp;&nbsp;"_s), u"x<y>z\"& "_s);
    // One pass: a twice-encoded reference comes out encoded once.
    EXPECT_EQ(HtmlDecode(u"&amp;lt;"_s), u"&lt;"_s);
    EXPECT_EQ(HtmlDecode(u"&amp;amp;"_s), u"&amp;"_s);
}

TEST(HtmlDecode, UnknownOrIncompleteNamesPassThrough) {
    EXPECT_EQ(HtmlDecode(u"&ndash;"_s), u"&ndash;"_s);
    EXPECT_EQ(HtmlDecode(u"a &lt b"_s), u"a &lt b"_s);
    EXPECT_EQ(HtmlDecode(u"&lt"_s), u"&lt"_s);
    EXPECT_EQ(HtmlDecode(u"&nbsp"_s), u"&nbsp"_s);
    EXPECT_EQ(HtmlDecode(u"&l;"_s), u"&l;"_s);
    // Names are case-sensitive.
    EXPECT_EQ(HtmlDecode(u"&AMP;&Lt;&QUOT;"_s), u"&AMP;&Lt;&QUOT;"_s);
    // A lone "&" followed by a space stays, with the space.
    EXPECT_EQ(HtmlDecode(u"Tom & Jerry"_s), u"Tom & Jerry"_s);
}

TEST(HtmlDecode, AmpersandPairsAndTheLastAmpersand) {
    // The character after a non-reference "&" is copied and not examined
    // again, even when it is itself an "&".
    EXPECT_EQ(HtmlDecode(u"&&amp;"_s), u"&&amp;"_s);
    EXPECT_EQ(HtmlDecode(u"a&&"_s), u"a&&"_s);
    EXPECT_EQ(HtmlDecode(u"&&&"_s), u"&&"_s);
    EXPECT_EQ(HtmlDecode(u"&&&amp;"_s), u"&&&"_s);
    EXPECT_EQ(HtmlDecode(u"&&#65;"_s), u"&&#65;"_s);
    // An "&" at the very end is dropped.
    EXPECT_EQ(HtmlDecode(u"a&"_s), u"a"_s);
    EXPECT_EQ(HtmlDecode(u"&"_s), QString());
    EXPECT_EQ(HtmlDecode(u"&amp;&"_s), u"&"_s);
}

TEST(HtmlDecode, NumericReferences) {
    EXPECT_EQ(HtmlDecode(u"&#039;"_s), u"'"_s);
    EXPECT_EQ(HtmlDecode(u"&#1046;"_s), u"Ж"_s);
    EXPECT_EQ(HtmlDecode(u"&#65;&#66;C"_s), u"ABC"_s);
    // The character ending the digits is consumed, whatever it is.
    EXPECT_EQ(HtmlDecode(u"&#65x;"_s), u"A;"_s);
    EXPECT_EQ(HtmlDecode(u"&#65 B"_s), u"AB"_s);
    EXPECT_EQ(HtmlDecode(u"&#65&amp;"_s), u"Aamp;"_s);
    // ... unless the text ends there.
    EXPECT_EQ(HtmlDecode(u"x&#65"_s), u"xA"_s);
    // The run covers further "#" and digits; only the digits right after the
    // first "#" count.
    EXPECT_EQ(HtmlDecode(u"&#65#66;Z"_s), u"AZ"_s);
    EXPECT_EQ(HtmlDecode(u"&##65;Z"_s), Nul() + u"Z"_s);
    // Only the low 16 bits of the number are used.
    EXPECT_EQ(HtmlDecode(u"&#65601;"_s), u"A"_s);
    EXPECT_EQ(HtmlDecode(u"&#65536;!"_s), Nul() + u"!"_s);
}

TEST(HtmlDecode, NumericReferencesGivingZero) {
    EXPECT_EQ(HtmlDecode(u"x&#;y"_s), u"x"_s + Nul() + u"y"_s);
    EXPECT_EQ(HtmlDecode(u"&#"_s), Nul());
    // Hexadecimal is not understood: the "x" ends the (empty) number and is
    // consumed, the hex digits follow as text.
    EXPECT_EQ(HtmlDecode(u"&#x41;"_s), Nul() + u"41;"_s);
    // A U+0000 produced by decoding does not stop the decoding.
    EXPECT_EQ(HtmlDecode(u"&#0;&amp;&#66;"_s), Nul() + u"&B"_s);
}

TEST(HtmlDecode, LongDigitRuns) {
    // Any value is acceptable for more than nine digits; the reference still
    // becomes exactly one character and its terminator is consumed.
    const QString decoded = HtmlDecode(u"a&#123456789012345678901234567890;b"_s);
    ASSERT_EQ(decoded.size(), 3);
    EXPECT_EQ(decoded.front(), u'a');
    EXPECT_EQ(decoded.back(), u'b');

    const QString huge = u"&#"_s + QString(100000, u'9') + u";"_s;
    EXPECT_EQ(HtmlDecode(huge).size(), 1);
}

TEST(HtmlDecode, NeverLongerThanItsInput) {
    // Random texts over the characters that matter to references.
    const QString alphabet = u"&#;0129xampltgnbsquorAL "_s + Nul();
    QRandomGenerator random(20261208);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int length = random.bounded(0, 24);
        for (int i = 0; i < length; ++i)
            text += alphabet[random.bounded(int(alphabet.size()))];
        const QString decoded = HtmlDecode(text);
        ASSERT_LE(decoded.size(), text.size()) << qPrintable(text);
        const qsizetype nul = text.indexOf(QChar(0));
        if (!text.left(nul < 0 ? text.size() : nul).contains(u'&')) {
            ASSERT_EQ(decoded, text.left(nul < 0 ? text.size() : nul));
        }
    }
}

TEST(CleanHtmlText, UnknownNamesAndDoubleEncodings) {
    // Names that decoding leaves alone are rewritten by the table.
    EXPECT_EQ(CleanHtmlText(u"a&bull;b&times;c&mdash;d&ndash;e"_s), u"a-bxc-d-e"_s);
    // Twice-encoded references: decoded once, then rewritten by the table.
    EXPECT_EQ(CleanHtmlText(u"x&amp;nbsp;y"_s), u"x y"_s);
    EXPECT_EQ(CleanHtmlText(u"&amp;quot;q&amp;quot;"_s), u"\"q\""_s);
    EXPECT_EQ(CleanHtmlText(u"&amp;laquo;Ромашка&amp;raquo;"_s), u"\"Ромашка\""_s);
    EXPECT_EQ(CleanHtmlText(u"it&amp;#039;s"_s), u"it's"_s);
    // Once-encoded angle quotes stay angle quotes.
    EXPECT_EQ(CleanHtmlText(u"&laquo;Ромашка&raquo;"_s), u"\u00ABРомашка\u00BB"_s);
    EXPECT_EQ(CleanHtmlText(u"5 &amp;gt; 3"_s), u"5 > 3"_s);
}

TEST(CleanHtmlText, TableOrder) {
    // The entity rules come before ";" becomes ",", so their ";" is gone by then.
    EXPECT_EQ(CleanHtmlText(u"&amp;bull;"_s), u"-"_s);
    // An entity the table does not know keeps its "&" and gets a ",".
    EXPECT_EQ(CleanHtmlText(u"&amp;copy; 2026"_s), u"&copy, 2026"_s);
    EXPECT_EQ(CleanHtmlText(u"&amp;amp;nbsp;"_s), u"&amp,nbsp,"_s);
    // "&lt;" and "&gt;" become "<" and ">" before "<br>" is looked for.
    EXPECT_EQ(CleanHtmlText(u"a&amp;lt;br&amp;gt;b"_s), u"a b"_s);
    // A numeric ";" is decoded first and then becomes ",".
    EXPECT_EQ(CleanHtmlText(u"a&#59;b; c"_s), u"a,b, c"_s);
}

TEST(CleanHtmlText, LinesAndBreaks) {
    EXPECT_EQ(CleanHtmlText(u"line1\r\nline2\nline3\r"_s), u"line1line2line3"_s);
    EXPECT_EQ(CleanHtmlText(u"a<br>b"_s), u"a b"_s);
    EXPECT_EQ(CleanHtmlText(u"a<br/>b<BR>c"_s), u"abc"_s);
}

TEST(CleanHtmlText, Tags) {
    EXPECT_EQ(CleanHtmlText(u"<b>word</b>"_s), u"word"_s);
    EXPECT_EQ(CleanHtmlText(u"a <i class=\"x\">b</i> c"_s), u"a b c"_s);
    // A "<" without a ">" after it cuts the text there.
    EXPECT_EQ(CleanHtmlText(u"abc <span class"_s), u"abc "_s);
    EXPECT_EQ(CleanHtmlText(u"a<b>c<d"_s), u"ac"_s);
    // A decoded "<" is treated like the start of a tag.
    EXPECT_EQ(CleanHtmlText(u"x &lt; y"_s), u"x "_s);
    EXPECT_EQ(CleanHtmlText(u"x &amp;lt; y"_s), u"x "_s);
    EXPECT_EQ(CleanHtmlText(u"&lt;b&gt;bold&lt;/b&gt;"_s), u"bold"_s);
    // ">" alone is text.
    EXPECT_EQ(CleanHtmlText(u"a > b"_s), u"a > b"_s);
    EXPECT_EQ(CleanHtmlText(u"a>b<c>d>"_s), u"a>bd>"_s);
    EXPECT_EQ(CleanHtmlText(u"<<a>b>"_s), u"b>"_s);
}

TEST(CleanHtmlText, NotTrimmed) {
    EXPECT_EQ(CleanHtmlText(u"  x  "_s), u"  x  "_s);
    EXPECT_EQ(CleanHtmlText(u"&nbsp;x&nbsp;"_s), u" x "_s);
    EXPECT_EQ(CleanHtmlText(u"<p> x </p>"_s), u" x "_s);
}

TEST(CleanHtmlText, ResultHasNoSemicolonLineBreakOrLessThan) {
    const QString alphabet = u"&#;<>brlgtampnsq\r\n 059x"_s;
    QRandomGenerator random(8122026);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int length = random.bounded(0, 30);
        for (int i = 0; i < length; ++i)
            text += alphabet[random.bounded(int(alphabet.size()))];
        const QString clean = CleanHtmlText(text);
        ASSERT_FALSE(clean.contains(u';')) << qPrintable(text);
        ASSERT_FALSE(clean.contains(u'<')) << qPrintable(text);
        ASSERT_FALSE(clean.contains(u'\r')) << qPrintable(text);
        ASSERT_FALSE(clean.contains(u'\n')) << qPrintable(text);
    }
}
