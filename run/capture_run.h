// The capture run: checks the ring, opens the source and the window, runs
// the frame loop while frames are completed behind it, and ends it all in
// order.
#pragma once

#include "cli/run_settings.h"
#include "run/console.h"
#include "run/run_outcome.h"

// Runs the capture that settings describe, printing on console, and says
// how it ended. Call with the stop signals blocked (blockStopSignals).
RunOutcome runCapture(const RunSettings& settings, Console& console);
