#pragma once
// The workbook as an output of a run: at the end, data<tick>.xlsx beside the
// result file, made from it, the summary and the changes file; the desktop
// then opens it instead of the result file.

#include "report/workbook.h"
#include "run/run_output.h"

class WorkbookOutput final : public RunOutput {
public:
    explicit WorkbookOutput(const WorkbookLimits& limits = {}) : limits_(limits) {}

    std::vector<QString> Begin(const RunRequest& request, const QString& key,
                               bool continued) override;
    void Found(const QString&) override {}
    void RowWritten(const CardRecord&) override {}
    void Gone(const QString&) override {}
    std::vector<QString> Sync() override { return {}; }
    // Writes the workbook; when it cannot, says why and marks the run failed,
    // and the result file is opened as without a workbook.
    std::vector<QString> Finish(RunFinish& finish) override;

private:
    WorkbookLimits limits_;
    RunRequest request_;
};
