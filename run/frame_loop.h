// The frame loop: takes each frame from the source, shows it, waits for a
// key, and hands it to the ring, until the source ends or the run is told
// to stop.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "run/console.h"
#include "run/frame_window.h"
#include "run/ring/frame_pipeline.h"
#include "run/ring/output_ring.h"
#include "run/run_outcome.h"
#include "run/source/frame_source.h"
#include "run/stop_signals.h"

class FrameLoop : private ReadWatch {
 public:
  // Everything given must outlive the loop; window may be null, where there
  // is no display. Frames are drawn in it when showFrames says so, and it
  // takes ESC either way. settled says whether nothing is left half-done
  // (the frames in flight are complete), so that a source that waits
  // beyond a stop signal may be left to it; it runs on the signal thread.
  FrameLoop(FrameSource& source, FrameWindow* window, bool showFrames,
            FramePipeline& pipeline, SlotCycle& slots, StopSignals& signals,
            Console& console, std::function<bool()> settled);

  // Takes frames until the run ends. Returns how it ended: its end, and
  // the source's name or, for a source that never started, why.
  RunOutcome run();

 private:
  // Why the run must end before taking the next frame, if it must.
  std::optional<RunEnd> toldToEnd() const;
  bool toldToStop() override;
  std::chrono::milliseconds askEvery() const override;
  RunOutcome ended(const ReadResult& read) const;
  void draw(const cv::Mat& frame);

  FrameSource& source_;
  FrameWindow* const window_;
  bool drawing_;  // until a frame could not be drawn
  FramePipeline& pipeline_;
  SlotCycle& slots_;
  StopSignals& signals_;
  Console& console_;
  const std::function<bool()> settled_;
  // ESC, pressed while the source waited.
  bool escPressed_ = false;
  // When the window is next asked for a key while the source waits.
  std::chrono::steady_clock::time_point nextKeyPoll_;
};
