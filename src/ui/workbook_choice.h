#pragma once
// Remembering whether runs started in the window also write the workbook:
// the line "xlsx=1" (or "xlsx=0") in options.txt in the program folder.

#include <QByteArray>
#include <QString>

// The file's name in the program folder.
QString OptionsFileName();

// Whether the contents say the workbook is wanted; anything else (no file,
// other lines) says it is not.
bool WorkbookWanted(const QByteArray& contents);

// The contents that say `wanted`.
QByteArray WorkbookOptionText(bool wanted);

// Reads the choice from `folder`; a file that is missing or cannot be read
// counts as not wanted.
bool ReadWorkbookChoice(const QString& folder);

// Writes the choice into `folder`, replacing the file only once the new text
// is wholly written; throws std::runtime_error with the file's path and the
// reason when it cannot.
void SaveWorkbookChoice(const QString& folder, bool wanted);
