// What a V4L2 camera offers, and the format, size and rate a run asks it
// for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/run_settings.h"

// One format a camera offers at the frame size a run wants, with the
// rates it offers there.
struct FormatOffer {
  uint32_t format;  // V4L2 pixel format, as V4L2_PIX_FMT_MJPEG
  // Frames per second offered, slowest first; with anyBetween, every rate
  // between the first and the last.
  std::vector<double> rates;
  bool anyBetween;
};

struct CameraOffer {
  bool known;  // whether the camera said which sizes it offers
  // The size the formats below offer: the one asked for, or where none
  // was, the one the camera gives for the library's default.
  FrameSize size;
  // Each size or range of sizes offered in any format, as "640x480" or
  // "160x120 to 1920x1080", in the order the camera gives them.
  std::vector<std::string> sizes;
  std::vector<FormatOffer> atSize;  // the formats that offer the wanted size
};

// The size a camera is asked for when the run asks for none, as the
// capture library does.
constexpr FrameSize DEFAULT_CAMERA_SIZE = {640, 480};

struct CameraMode {
  uint32_t format;  // 0: the capture library's choice
  FrameSize size;   // 0x0: the capture library's choice
  double rate;      // frames per second asked for; 0: the camera's own
  // Seconds between the frames kept, when a rate below the slowest that
  // the camera offers was asked for; 0 when every frame is kept.
  double keepEvery;
  // Whether the camera said which rates it offers at the size: where not,
  // the rate it takes is known only once it is open.
  bool ratesKnown;
};

// The mode for a run that asks for size (0x0 for none) and rate (0 for
// none): MJPEG where it offers that size and the rate that will be used,
// the nearest rate offered at or above the one asked (or the fastest),
// and below the slowest rate offered, the slowest with one frame kept
// every 1/rate seconds.
CameraMode chooseCameraMode(const CameraOffer& offer, FrameSize size,
                            double rate);

// "1280x720".
std::string describeSize(FrameSize size);
