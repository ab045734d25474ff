#include "run/source/read_tally.h"

#include <algorithm>
#include <cmath>

namespace {

// At its end a file gives failed reads only, each at no measurable cost
// (100 take under 0.3 ms, 10,000 under 30 ms). A damaged stretch gives
// about one failed read per frame it held (592 for 2 MB of an H.264 clip
// at 320x240), and never more than the frames still to come when the file
// states how many; a length stated wrongly is not waited out.
constexpr int64_t FAILED_READS_AT_AN_END = 100;
constexpr int64_t MOST_FAILED_READS = 10000;

// More frames than any file holds: the backend's figure for a length it
// does not know.
constexpr double MOST_FRAMES = 1e12;

// How far short of its stated end a whole file may stop: containers that
// state their length only as duration times rate are a frame or two off,
// and more for a variable rate.
int64_t slackFor(int64_t frames) { return std::max<int64_t>(2, frames / 100); }

}  // namespace

ReadTally::ReadTally(double statedFrames, double rate, StatedLength length)
    : statedFrames_(statedFrames >= 1 && statedFrames < MOST_FRAMES
                        ? static_cast<int64_t>(statedFrames)
                        : 0),
      rate_(std::isfinite(rate) && rate > 0 ? rate : 0),
      length_(length) {}

void ReadTally::frameRead(double timeMs) {
  tally_.framesLost(failedInARow_);
  failedInARow_ = 0;
  tally_.frameGiven();
  if (std::isfinite(timeMs) && timeMs > 0) lastTimeMs_ = timeMs;
}

bool ReadTally::countFailedRead() {
  ++failedInARow_;
  int64_t toCome =
      std::clamp<int64_t>(statedFrames_ - tally_.given(), 0, MOST_FAILED_READS);
  return failedInARow_ < std::max(FAILED_READS_AT_AN_END, toCome);
}

bool ReadTally::stoppedShort() const {
  // Frames that could not be decoded were there, and are said apart.
  int64_t slack = slackFor(statedFrames_);
  if (length_ == StatedLength::Unknown || statedFrames_ == 0 ||
      tally_.given() + tally_.lost() + slack >= statedFrames_)
    return false;
  // A count that is only an estimate can be far above the frames of a
  // variable rate: the time of the last frame still shows the end.
  if (rate_ > 0 && lastTimeMs_ > 0) {
    double endMs = statedFrames_ * 1000.0 / rate_;
    double lastEndMs = lastTimeMs_ + 1000.0 / rate_;
    if (lastEndMs + slack * 1000.0 / rate_ >= endMs) return false;
  }
  return true;
}
