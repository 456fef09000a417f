#include "text/formula_guard.h"

bool StartsLikeFormula(const QString& text) {
    if (text.isEmpty())
        return false;
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
        return true;
    default:
        return false;
    }
}

QString FormulaSafe(const QString& text) {
    return StartsLikeFormula(text) ? QLatin1Char('\'') + text : text;
}

QString UndoFormulaSafe(const QString& text) {
    if (text.startsWith(QLatin1Char('\'')) && StartsLikeFormula(text.mid(1)))
        return text.mid(1);
    return text;
}
