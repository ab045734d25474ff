// What one run is told by its command line: where its frames come from,
// the ring they go to, and what is shown and printed.
#pragma once

#include "cli/capture_source.h"
#include "run/ring/output_ring.h"

// A frame size in pixels; 0x0 when none was asked for.
struct FrameSize {
  int width;
  int height;
};

struct RunSettings {
  CaptureSource source;
  OutputRing ring;
  // What a camera is asked for: frames per second (0 for the camera's
  // own rate) and the frame size.
  double frameRate;
  FrameSize frameSize;
  bool saveImages;  // write each frame to its slot
  bool showImages;  // show each frame in the window
  bool verbose;     // print the informational messages
};

// Camera 0, the default ring, everything on.
void setDefaultSettings(RunSettings& settings);
