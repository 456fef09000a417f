#pragma once
// The run log file "log-<tick>.txt": the whole log of a run, written once
// when it ends.

#include <QString>

// Writes `text` to `path`, a new file (an existing one is never replaced),
// every line ended by CR LF, as UTF-8. Returns the system's reason when the
// file cannot be written, else an empty text.
QString SaveRunLog(const QString& text, const QString& path);

// What whoever waits for the run is told when its log could not be written:
// `Cannot create file "<path>". <reason>`.
QString RunLogError(const QString& path, const QString& reason);
