#include "run/source/stream_pacer.h"

bool StreamPacer::offer(double streamMs, double arrivedMs) {
  if (streamMs > 0) {
    double offset = streamMs - arrivedMs;
    // The frames before had their arrival times only: their steps move to
    // the stream's clock.
    if (!timed_) {
      dueMs_ += offset;
      lastMs_ += offset;
      timed_ = true;
    }
    arrivalToStream_ = offset;
  }
  double time = streamMs > 0 ? streamMs : arrivedMs + arrivalToStream_;
  // A stream whose times start again (a camera that restarted, a time that
  // wrapped) starts the steps again too.
  bool wentBack = anyKept_ && time < lastMs_;
  lastMs_ = time;
  if (anyKept_ && !wentBack && time < dueMs_) return false;
  // Due times keep their step, so that jitter does not add up; after a gap
  // of a whole step the steps start again from this frame.
  bool inStep = anyKept_ && !wentBack && time < dueMs_ + everyMs_;
  dueMs_ = inStep ? dueMs_ + everyMs_ : time + everyMs_;
  anyKept_ = true;
  return true;
}
