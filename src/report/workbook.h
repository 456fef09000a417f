#pragma once
// The workbook of a run, data<tick>.xlsx: its cards ("Карточки"), a summary
// with a chart of how full each column is ("Сводка"), and what changed since
// the earlier run ("Изменения"). Made from the result file and the changes
// file, the run's durable record, in libxlsxwriter's constant-memory mode, so
// that its memory does not grow with the run.

#include "report/run_summary.h"
#include "store/run_comparison.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What the "Сводка" sheet tells of the run.
struct WorkbookFacts {
    QString webHost;
    QString apiHost;
    QStringList categories; // the selected rows
    QStringList cities;
    QDateTime started;
    QDateTime ended;
    std::int64_t found = 0; // the found-cards counter
    RunSummary summary;
    std::optional<RunComparison> comparison; // when compared with an earlier run
    QDateTime comparedWith;                  // that run's start
};

struct WorkbookLimits {
    // Rows below the header of a sheet; the rest go on to "<name> 2", ...
    std::int64_t rowsPerSheet = 1048575;
    // Links a sheet may hold; past them values stay plain text. Excel allows
    // 65,530, but libxlsxwriter takes about 2.4 KB a link when it closes the
    // sheet: 40,000 keep a workbook of 100,000 rows under 150 MB.
    std::int64_t linksPerSheet = 40000;
};

// ".../data<tick>.xlsx" for the result file ".../data<tick>.csv".
QString WorkbookPathFor(const QString& resultPath);

// Writes the workbook at `path`: the rows of the result file at `resultPath`
// on "Карточки" (and "Карточки 2", ... past the row limit), the facts on
// "Сводка", and the rows of the changes file at `changesPath`, unless that
// is empty, on "Изменения". The file appears whole or not at all: it is
// written under a temporary name beside `path` and renamed over it, so an
// older file of that name stays as it was when writing fails. Throws
// std::runtime_error with the reason, in the user's words where the cause is
// a common one.
void WriteWorkbook(const QString& path, const QString& resultPath, const QString& changesPath,
                   const WorkbookFacts& facts, const WorkbookLimits& limits = {});
