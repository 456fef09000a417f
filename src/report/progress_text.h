#pragma once
// The arithmetic and texts behind the run's progress bar and error lines.

#include <QString>

#include <cstdint>

// Position and maximum as the progress bar keeps them: a maximum below 0
// becomes 0, the position is limited to 0..maximum.
struct ProgressValues {
    int position = 0;
    int maximum = 0;
};
ProgressValues ClampProgress(int position, int maximum);

// position ÷ maximum × 100 in floating point, rounded to the nearest integer
// with an exact half going to the even neighbour (1 of 8 gives 12, 3 of 8
// gives 38), taken of the values as ClampProgress limits them. A maximum of
// 0 (or below) gives 0.
int ProgressPercent(int position, int maximum);

// "%d%%: %d из %d, осталось %d" of the percentage, position, maximum and
// maximum − position, all of the values as ClampProgress limits them.
QString ProgressHint(int position, int maximum);

// True when more than 1000 ms have passed since `last`, in unsigned 32-bit
// arithmetic, so a tick counter that wrapped still counts forward.
bool ProgressDue(std::uint32_t now, std::uint32_t last);

// An error's message as the log shows it: at most 200 characters (a
// surrogate pair is not cut in half).
QString ErrorLine(const QString& message);
