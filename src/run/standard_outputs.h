#pragma once
// The outputs every run has besides its result file, as START makes them.

#include "run/run_output.h"

// The card store in `folder`, then the workbook when the request asks for it
// (after the store, whose comparison and changes file it shows).
RunOutputs StandardOutputs(const RunRequest& request, const QString& folder);
