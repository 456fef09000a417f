#pragma once
// Remembering which rows of the two lists were selected: selection1.txt
// (categories) and selection2.txt (cities and regions) in the program folder,
// one selected row's text per line.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QListWidget;

// File contents for the given lines: UTF-8 without byte-order mark, every line
// ended by CR LF; no lines give an empty file.
QByteArray EncodeSelectionLines(const QStringList& lines);

// Lines of a file's contents: a UTF-8 or UTF-16 (LE/BE) byte-order mark picks
// that encoding, otherwise UTF-8. Lines end at CR LF, lone LF or lone CR; a
// break at the very end gives no extra empty line.
QStringList DecodeSelectionLines(const QByteArray& contents);

// Writes program folder + fileName from the selected rows, top to bottom.
// A list that holds no rows at all (never filled) leaves the file as it is,
// so that a failed or unfinished load does not wipe the saved choice.
// The old file is replaced only once the new text is wholly written (a
// temporary file beside it is renamed over it); when writing fails it stays
// as it was and std::runtime_error is thrown.
void SaveSelection(const QListWidget& list, const QString& fileName);

// Reads a selection file into lines; throws std::runtime_error when it exists
// but cannot be read.
QStringList ReadSelectionFile(const QString& path);

// For each row, whether its text is among the lines, letter case ignored
// (Cyrillic included), everything else exact.
QList<bool> SelectedByLines(const QStringList& rows, const QStringList& lines);

// Afterwards exactly the rows SelectedByLines picks are selected.
void RestoreSelection(QListWidget& list, const QStringList& lines);
