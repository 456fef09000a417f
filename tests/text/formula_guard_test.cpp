// Texts a spreadsheet would run as formulas, and texts it would not.
#include "text/formula_guard.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(FormulaSafe, OnlyTheDangerousFirstCharactersGetAnApostrophe) {
    for (const QString& text : {u"="_s, u"+7"_s, u"-5"_s, u"@A1"_s, u"\tx"_s, u"\rx"_s})
        EXPECT_EQ(FormulaSafe(text), u"'"_s + text) << text.toStdString();
    for (const QString& text :
         {QString(), u"4.7"_s, u"Иванов"_s, u" +7 900"_s, u"'=1"_s, u"a=b"_s, u"\n=1"_s, u"＝1"_s})
        EXPECT_EQ(FormulaSafe(text), text) << text.toStdString();
}

// Undoing the guard gives the value back; an apostrophe of the value's own
// before a formula-like character cannot be told from the guard's.
TEST(FormulaSafe, UndoGivesTheGuardedValueBack) {
    for (const QString& text : {QString(), u"=1"_s, u"+7"_s, u"\tx"_s, u"'Кавычки'"_s, u"''=1"_s})
        EXPECT_EQ(UndoFormulaSafe(FormulaSafe(text)), text) << text.toStdString();
    EXPECT_EQ(UndoFormulaSafe(u"'=x'"_s), u"=x'"_s);
}
