#pragma once
// The outputs every run has besides its result file, as START makes them.

#include "run/run_output.h"

// The card store in `folder`.
RunOutputs StandardOutputs(const RunRequest& request, const QString& folder);
