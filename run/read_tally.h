// Tells by the results of a video file's reads, and by what the file
// holds, whether it gave every frame: a damaged stretch that frames
// followed, or frames that stopped before the file's end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "run/stated_length.h"

// What a file's reads come to: the frames given, and those it holds that
// were not.
struct FrameAccount {
  int64_t given = 0;
  int64_t missing = 0;
  // Whether the frames stopped before the file's end; if not, frames
  // followed the first one missing, which firstMissingAfter came before.
  bool stopped = false;
  int64_t firstMissingAfter = 0;
};

class ReadTally {
 public:
  // expectedFrames: as many as the file states it holds, 0 when it states
  // nothing; a damaged stretch is read past while frames may follow it.
  explicit ReadTally(int64_t expectedFrames)
      : expectedFrames_(expectedFrames) {}

  // A frame was read; timeMs is its time in the video as the capture
  // reports it, 0 when unknown (the frames a decoder hands over at the end
  // have none).
  void frameRead(double timeMs);

  // A read failed: whether to read again, as a damaged stretch can be
  // followed by frames and an end cannot.
  bool failedReadAgain();

  int64_t frames() const { return frames_; }

  // By the reads alone: failed reads that frames followed. All that can be
  // said of a file not read to its end, or not open beside the capture.
  FrameAccount account() const;

  // At the end of a file, against what it holds by what it states and by
  // its demuxer, which demux is called for where the count stated does not
  // settle it (it gives nothing when it could not read the file).
  FrameAccount account(
      const StatedLength& stated,
      const std::function<std::optional<DemuxedFrames>()>& demux) const;

 private:
  int64_t expectedFrames_;
  int64_t frames_ = 0;
  // Each frame's time, while memory allows.
  std::vector<double> times_;
  bool timesKept_ = true;
  int64_t failedInARow_ = 0;
  int64_t undecoded_ = 0;
  int64_t firstUndecodedAfter_ = 0;
};
