// Opening the source a run's settings name: a camera, a video file or a
// network stream.
#pragma once

#include <memory>

#include "cli/run_settings.h"
#include "run/ring/result.h"
#include "run/source/frame_source.h"

// Sets what the capture library reads from the environment, unless the
// user chose otherwise: FFmpeg's log kept off the console, RTSP over TCP,
// and no wait in a camera's first grab.
// Changes the environment, so call it before any thread starts.
void prepareSources();

// Opens the source of settings, a camera in the size and rate they ask
// for. Returns it, or the lines that say why it could not be opened.
Result<std::unique_ptr<FrameSource>, Refusal> openSource(
    const RunSettings& settings);
