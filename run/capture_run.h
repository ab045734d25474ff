// The capture run: opens the source, then shows, writes and times each frame.
#pragma once

#include <optional>
#include <string>

#include "cli/run_settings.h"
#include "run/console.h"
#include "run/run_outcome.h"

// Why the slot names of the ring's whole index range cannot be used, or
// nothing: a name longer than a path may be, or with a part longer than
// the slots' file system takes.
std::optional<std::string> refuseSlotNames(const OutputRing& ring);

// Runs the capture that settings describe, printing on console, and says
// how it ended.
RunOutcome runCapture(const RunSettings& settings, Console& console);
