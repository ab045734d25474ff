// The capture run: opens the source, then shows, writes and times each frame.
#pragma once

#include <cstdint>

#include "cli/run_settings.h"

// Exit status when some frame was not written or a camera stopped.
constexpr int RUN_FAILED = 1;

enum class SourceKind { CameraIndex, CameraDevice, VideoFile };

struct CaptureSource {
  SourceKind kind;
  int cameraIndex;   // for CameraIndex
  const char* path;  // for CameraDevice and VideoFile
};

// Chooses the source from the raw command line: no arguments or an option
// first is camera 0, a lone digit is that camera, a character device first
// is that camera, anything else first is the video file it names.
CaptureSource chooseSource(int argc, const char* const* argv);

// The index that follows index in the cycle firstIndex..lastIndex, without
// ever computing past INT32_MAX.
int32_t nextIndex(int32_t index, const RunSettings& settings);

// Checks, before anything is opened, that the output names of the whole
// index range can be formed and, when saving, that their extension has an
// image writer. Reports on stderr; returns 0 or -1.
int checkOutputNames(const RunSettings& settings);

// The program: returns its exit status (0, -1 when nothing could start,
// RUN_FAILED when a frame could not be written or a camera stopped).
int runCapture(int argc, const char* const* argv);
