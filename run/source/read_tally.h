// Tells by the results of a video file's reads, and by what the file
// holds, whether it gave every frame: a damaged stretch that frames
// followed, or frames that stopped before the file's end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "run/source/frame_account.h"
#include "run/source/stated_length.h"

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

  // Counts a failed read. Returns whether to read again, as a damaged
  // stretch can be followed by frames and an end cannot.
  bool countFailedRead();

  int64_t frames() const { return reads_.given; }

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
  // Each frame's time, while memory allows.
  std::vector<double> times_;
  bool timesKept_ = true;
  int64_t failedInARow_ = 0;
  // By the reads alone: failed reads that frames followed count as
  // missing.
  FrameAccount reads_;
};
