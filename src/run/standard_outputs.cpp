#include "run/standard_outputs.h"

#include "run/card_store_output.h"

RunOutputs StandardOutputs(const RunRequest&, const QString& folder) {
    RunOutputs outputs;
    outputs.push_back(std::make_unique<CardStoreOutput>(folder));
    return outputs;
}
