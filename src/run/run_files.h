#pragma once
// The names of a run's files in the program folder: the result file, the run
// log and the journal share one tick, chosen so that no file of an earlier
// run (or of another copy of the program) is ever overwritten.

#include <QString>

#include <cstdint>

// "data%d.csv", "log-%d.txt" and "run-%d.journal" with the tick as a signed
// 32-bit number.
QString ResultFileName(std::uint32_t tick);
QString LogFileName(std::uint32_t tick);
QString JournalFileName(std::uint32_t tick);

// The first tick from `from` on for which none of the three names exists in
// `folder` (a trailing "/" optional). The tick counter wraps like the
// system's; after 100,000 taken ticks in a row `from` is given back as it is.
std::uint32_t FreeRunTick(const QString& folder, std::uint32_t from);
