// What one run is told by its command line: where its frames come from,
// the ring they go to, and what is shown and printed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/capture_source.h"

constexpr std::size_t OUTPUT_BASE_SIZE = 256;
constexpr std::size_t EXTENSION_SIZE = 250;
// Like any path, with its terminating zero.
constexpr std::size_t LATEST_NAME_SIZE = 4096;

// The ring of output files: each slot's name is the base, the index
// padded to the width, ".", the extension; the index cycles from the
// first to the last.
struct OutputRing {
  char outputBase[OUTPUT_BASE_SIZE];  // may hold a directory part
  char extension[EXTENSION_SIZE];     // without the dot
  // The least number of characters of the index, zero-filled on the left;
  // a negative width fills with blanks on the right instead.
  int32_t paddingWidth;
  int32_t firstIndex;
  int32_t lastIndex;  // after it comes firstIndex again
};

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
  // The name that is to hold the newest frame written, as -latest gives
  // it; empty for none.
  char latestName[LATEST_NAME_SIZE];
  bool saveImages;  // write each frame to its slot
  bool showImages;  // show each frame in the window
  bool verbose;     // print the informational messages
};

// Base "f", extension "jpg", width 3, indices 0 to 10.
void setDefaultRing(OutputRing& ring);

// Camera 0, the default ring, everything on.
void setDefaultSettings(RunSettings& settings);
