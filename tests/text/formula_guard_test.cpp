// The apostrophe in front of values a spreadsheet would run as formulas.
#include "text/formula_guard.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(FormulaSafe, EveryDangerousFirstCharacterGetsOneApostrophe) {
    for (const QString& text :
         {u"=1+2"_s, u"+7 900"_s, u"-5"_s, u"@SUM(A1)"_s, u"\tx"_s, u"\rx"_s, u"="_s, u"=='"_s}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(StartsLikeFormula(text));
        EXPECT_EQ(FormulaSafe(text), u"'"_s + text);
    }
}

TEST(FormulaSafe, OtherTextsStayAsTheyAre) {
    // Only the first character counts; an apostrophe already in front, a
    // space, a line feed or a digit keep the text from being read as a formula.
    for (const QString& text : {QString(), u"4.7"_s, u"12"_s, u"Иванов"_s, u" +7 900"_s, u"'=1"_s,
                                u"a=b"_s, u"\n=1"_s, u"https://x.example/=-"_s, u"＝1"_s}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_FALSE(StartsLikeFormula(text));
        EXPECT_EQ(FormulaSafe(text), text);
    }
}
