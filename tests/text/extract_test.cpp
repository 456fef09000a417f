// Cutting values between markers, the single-pass replacement and quoting.
#include "text/extract.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QString Cut(const QString& text, const QString& start, const QString& second, const QString& end) {
    return ExtractBetween(text, start, second, end);
}

} // namespace

TEST(ExtractBetween, StartAndEndMarkers) {
    EXPECT_EQ(Cut(u"Химки (Московская обл.) (x)"_s, u"("_s, {}, u")"_s), u"Московская обл."_s);
    // A start without an end after it gives nothing, not the rest of the text.
    EXPECT_EQ(Cut(u"Химки (Московская обл."_s, u"("_s, {}, u")"_s), QString());
    // An end marker that only occurs before the start marker does not count.
    EXPECT_EQ(Cut(u"a) b (c"_s, u"("_s, {}, u")"_s), QString());
    EXPECT_EQ(Cut(u"no markers here"_s, u"("_s, {}, u")"_s), QString());
    EXPECT_EQ(Cut(QString(), u"("_s, {}, u")"_s), QString());
    // The end right after the start gives an empty value.
    EXPECT_EQ(Cut(u"f()"_s, u"("_s, {}, u")"_s), QString());
    // Markers match exactly, letter case included.
    EXPECT_EQ(Cut(u"ID:5;"_s, u"id:"_s, {}, u";"_s), QString());
    EXPECT_EQ(Cut(u"ID:5;"_s, u"ID:"_s, {}, u";"_s), u"5"_s);
}

TEST(ExtractBetween, EmptyMarkers) {
    EXPECT_EQ(Cut(u"  whole; text  "_s, {}, {}, {}), u"  whole; text  "_s);
    EXPECT_EQ(Cut(QString(), {}, {}, {}), QString());
    EXPECT_EQ(Cut(u"ab)cd)"_s, {}, {}, u")"_s), u"ab"_s);
    EXPECT_EQ(Cut(u")x"_s, {}, {}, u")"_s), QString());
    EXPECT_EQ(Cut(u"key=value; rest"_s, u"key="_s, {}, {}), u"value; rest"_s);
    // With an empty start, the second marker is searched from the very first
    // character.
    EXPECT_EQ(Cut(u"id=7&id=8"_s, {}, u"id="_s, u"&"_s), u"7"_s);
    EXPECT_EQ(Cut(u"id=7"_s, {}, u"id="_s, {}), u"7"_s);
}

TEST(ExtractBetween, FirstOccurrenceWins) {
    // The value runs to the first end after the first start, even across a
    // later start marker.
    EXPECT_EQ(Cut(u"<b>1<b>2</b>3</b>"_s, u"<b>"_s, {}, u"</b>"_s), u"1<b>2"_s);
    // The end marker is never looked for inside the start marker.
    EXPECT_EQ(Cut(u"aab"_s, u"aa"_s, {}, u"a"_s), QString());
    EXPECT_EQ(Cut(u"aaXa"_s, u"aa"_s, {}, u"a"_s), u"X"_s);
    EXPECT_EQ(Cut(u"\"\"\""_s, u"\""_s, {}, u"\""_s), QString());
}

TEST(ExtractBetween, SecondStartMarker) {
    const QString page = u"<h1>Name</h1><div class=\"card\"><h1>Inner</h1><p>x</p>"_s;
    EXPECT_EQ(Cut(page, u"class=\"card\""_s, u"<h1>"_s, u"</h1>"_s), u"Inner"_s);
    // A second marker that occurs only before the first one gives nothing.
    EXPECT_EQ(Cut(u"name=x; info: data"_s, u"info:"_s, u"name="_s, {}), QString());
    // An occurrence overlapping the first marker is ignored.
    EXPECT_EQ(Cut(u"aba"_s, u"ab"_s, u"ba"_s, {}), QString());
    EXPECT_EQ(Cut(u"abXba!"_s, u"ab"_s, u"ba"_s, {}), u"!"_s);
    // The end is searched after the second marker, not after the first.
    EXPECT_EQ(Cut(u"[a] x=(b) (c)"_s, u"["_s, u"("_s, u")"_s), u"b"_s);
    EXPECT_EQ(Cut(u"[a] x=(b"_s, u"["_s, u"("_s, u")"_s), QString());
}

TEST(ExtractBetween, MarkerAtTheEnd) {
    EXPECT_EQ(Cut(u"abc:"_s, u":"_s, {}, {}), QString());
    EXPECT_EQ(Cut(u"abc:"_s, u":"_s, {}, u";"_s), QString());
    EXPECT_EQ(Cut(u"abc:"_s, u"abc:"_s, {}, u":"_s), QString());
    EXPECT_EQ(Cut(u"a:b="_s, u":"_s, u"="_s, {}), QString());
    EXPECT_EQ(Cut(u"a:b="_s, u":"_s, u"="_s, u"="_s), QString());
    EXPECT_EQ(Cut(u"a:"_s, u":"_s, u"="_s, {}), QString());
}

TEST(ExtractBetween, QuotedString) {
    EXPECT_EQ(Cut(u"say \"hi there\" and \"bye\""_s, u"\""_s, {}, u"\""_s), u"hi there"_s);
    EXPECT_EQ(Cut(u"x\"\"y\"z\""_s, u"\""_s, {}, u"\""_s), QString());
    EXPECT_EQ(Cut(u"only \"one quote"_s, u"\""_s, {}, u"\""_s), QString());
}

TEST(ReplaceAll, SingleLeftToRightPass) {
    // Occurrences do not overlap.
    EXPECT_EQ(ReplaceAll(u"aaa"_s, u"aa", u"b"), u"ba"_s);
    // Text formed by a replacement and its neighbours is not scanned again.
    EXPECT_EQ(ReplaceAll(u"aab"_s, u"ab", u"b"), u"ab"_s);
    EXPECT_EQ(ReplaceAll(u"x"_s, u"x", u"xx"), u"xx"_s);
    EXPECT_EQ(ReplaceAll(u"<<br>br>"_s, u"<br>", u""), u"<br>"_s);
    // An empty replacement deletes; matching is case-sensitive.
    EXPECT_EQ(ReplaceAll(u"a;b;;c;"_s, u";", u""), u"abc"_s);
    EXPECT_EQ(ReplaceAll(u"Aa"_s, u"a", u"x"), u"Ax"_s);
    EXPECT_EQ(ReplaceAll(QString(), u"a", u"x"), QString());
    // Nothing to find: the text comes back unchanged.
    EXPECT_EQ(ReplaceAll(u"abc"_s, u"", u"x"), u"abc"_s);
}

TEST(QuoteSafe, OnlyDoubleQuotesChange) {
    EXPECT_EQ(QuoteSafe(u"ООО \"Ромашка\"; \"x\""_s), u"ООО 'Ромашка'; 'x'"_s);
    const QString plain = u"  a;b\\c\r\nd 'e'  "_s;
    EXPECT_EQ(QuoteSafe(plain), plain);
    EXPECT_EQ(QuoteSafe(u"\"\""_s), u"''"_s);
}

TEST(TrimControl, StripsCodesUpTo32AtBothEnds) {
    const QString text = QString(QChar(1)) + u"\t a b \r\n"_s + QChar(0) + QChar(31);
    EXPECT_EQ(TrimControl(text).toString(), u"a b"_s);
    EXPECT_EQ(TrimControl(u" \t\r\n"_s).toString(), QString());
    // A no-break space and other characters above 32 stay.
    const QString kept = QString(QChar(0xA0)) + u"!x!"_s + QChar(0xA0);
    EXPECT_EQ(TrimControl(kept).toString(), kept);
}
