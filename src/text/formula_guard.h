#pragma once
// Keeps a spreadsheet from reading a value of the result file as a formula.

#include <QString>

// Whether a spreadsheet may run `text` as a formula or command: it begins
// with "=", "+", "-", "@", a tab or a carriage return.
bool StartsLikeFormula(const QString& text);

// `text` with one apostrophe in front when StartsLikeFormula, else unchanged.
// The apostrophe makes a spreadsheet show the value as text.
QString FormulaSafe(const QString& text);

// The text FormulaSafe was given, from what it gave: an apostrophe in front
// of a text that StartsLikeFormula is taken off. A result file cannot tell
// that apostrophe from one QuoteSafe made of a double quote (`"=x"` is
// written `'=x'`); such a value loses its first apostrophe too.
QString UndoFormulaSafe(const QString& text);
