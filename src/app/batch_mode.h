#pragma once
// Batch mode: no window and no GUI application. Loads the lists, selects the
// rows named on the command line (or the saved selection), presses START once
// and exits with the run's outcome.

// Runs batch mode in a QCoreApplication made here; returns the exit code.
int RunBatchMode(int argc, char** argv);
