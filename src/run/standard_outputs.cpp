#include "run/standard_outputs.h"

#include "run/card_store_output.h"
#include "run/workbook_output.h"

RunOutputs StandardOutputs(const RunRequest& request, const QString& folder) {
    RunOutputs outputs;
    outputs.push_back(std::make_unique<CardStoreOutput>(folder));
    if (request.workbook)
        outputs.push_back(std::make_unique<WorkbookOutput>());
    return outputs;
}
