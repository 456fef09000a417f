#pragma once
// Appending a line to the window's log; in batch mode the line also goes to
// standard output, which carries nothing else.

#include <QString>

class QPlainTextEdit;

void AppendLogLine(QPlainTextEdit* log, const QString& line);
