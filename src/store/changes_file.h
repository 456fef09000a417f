#pragma once
// The changes file: what a run found new, changed or gone since the earlier
// run of the same settings, in the result file's format with two more
// columns, "Статус" and "Что изменилось".

#include "store/run_comparison.h"
#include "text/card_record.h"

#include <QString>

#include <cstdint>
#include <vector>

struct ChangedCard {
    CardRecord card; // a gone card: its last stored values
    ChangeStatus status = ChangeStatus::New;
    std::uint16_t changed = 0;
};

// "changes%d.csv" with the tick as a signed 32-bit number.
QString ChangesFileName(std::uint32_t tick);
// The changes file beside `resultPath` with its tick: ".../data<tick>.csv"
// gives ".../changes<tick>.csv".
QString ChangesPathFor(const QString& resultPath);

// The header line and one card's row, without their line ends.
QString ChangesHeader();
QString FormatChangesRow(const ChangedCard& row);

// Writes the whole file (byte order mark, header, rows, CR LF after each) in
// place of any file of that name; the old file stays whole when writing
// fails. Throws std::runtime_error `Cannot write to file "<path>". <reason>`.
void WriteChangesFile(const QString& path, const std::vector<ChangedCard>& rows);
