// What one run is told by its command line: where its frames come from,
// the ring they go to, and what is shown and printed.
#pragma once

#include "cli/capture_source.h"
#include "cli/output_ring.h"

struct RunSettings {
  CaptureSource source;
  OutputRing ring;
  bool saveImages;  // write each frame to its slot
  bool showImages;  // show each frame in the window
  bool verbose;     // print the informational messages
};

// Camera 0, the default ring, everything on.
void setDefaultSettings(RunSettings& settings);
