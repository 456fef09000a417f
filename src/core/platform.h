#pragma once
// Small platform services: the program folder, the millisecond tick count,
// local time stamps, the decimal separator and the desktop's file opener.

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>

// The folder of the executable, with a trailing "/". Tests may point it
// elsewhere with SetProgramFolder.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);

// Milliseconds since system start, wrapping at 2^32 like the classic 32-bit
// tick counter.
std::uint32_t TickCount();

// `pattern` with its one "%d" replaced by the tick as a signed 32-bit number
// (3000000000 gives -1294967296), e.g. "data%d.csv".
QString TickFileName(const char* pattern, std::uint32_t tick);

// The locale's short date, a blank and its long time without any time-zone
// part; the time is left out at exactly 00:00:00.
QString Timestamp(const QDateTime& when, const QLocale& locale);
QString Timestamp(); // now, in the system locale

// The decimal separator of the user's regional settings.
QString DecimalSeparator();

// Asks the desktop to open `path` with its default handler; does not wait and
// ignores failure.
void OpenWithDesktop(const QString& path);
