// Tells the end of a video file from a damaged stretch in it by the
// results of its reads, and whether the file gave all it states it holds.
#pragma once

#include <cstdint>

#include "run/source/frame_tally.h"
#include "run/source/stated_length.h"

class ReadTally {
 public:
  // statedFrames and rate as the file states them: 0 or less, or absurd,
  // when it does not; length says how far that can be trusted.
  ReadTally(double statedFrames, double rate, StatedLength length);

  // A frame was read; timeMs is its time in the video, 0 when unknown.
  void frameRead(double timeMs);

  // Counts a failed read. Returns whether to read again, as a damaged
  // stretch can be followed by frames and an end cannot.
  bool countFailedRead();

  // The frames read, and as lost the failed reads that frames followed:
  // frames that could not be decoded.
  const FrameTally& tally() const { return tally_; }
  int64_t statedFrames() const { return statedFrames_; }

  // Whether the frames stopped well before the end the file states, by
  // their count and by their time.
  bool stoppedShort() const;

 private:
  int64_t statedFrames_;
  double rate_;
  StatedLength length_;
  FrameTally tally_;
  double lastTimeMs_ = 0;
  int64_t failedInARow_ = 0;
};
