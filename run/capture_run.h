// The capture run: opens the source, then shows, writes and times each frame.
#pragma once

#include <optional>

#include "cli/run_settings.h"
#include "run/console.h"
#include "run/frame_writer.h"

// Exit status when the run could not start: no source, unusable names.
constexpr int START_FAILED = -1;
// Exit status when some frame was not written, the source failed or the
// console output was lost.
constexpr int RUN_FAILED = 1;

// Checks, before anything is opened, that the slot names of the whole
// index range can be formed and fit the slots' file system and, when
// saving, chooses the image format their extension selects. Reports on
// stderr why they cannot be written.
bool checkOutputNames(const RunSettings& settings,
                      std::optional<ImageFormat>& format);

// Runs the capture that settings describe, printing on console. Returns
// the exit status: 0, START_FAILED or RUN_FAILED.
int runCapture(const RunSettings& settings, Console& console);
