#pragma once
// Appending a line to the window's log; in batch mode the line also goes to
// standard output, which carries nothing else (a live status line on standard
// error is taken off the screen around it).

#include <QString>

class QPlainTextEdit;

void AppendLogLine(QPlainTextEdit* log, const QString& line);
