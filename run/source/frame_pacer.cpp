#include "run/source/frame_pacer.h"

#include <algorithm>

bool FramePacer::offer(double capturedMs, double nowMs) {
  // Cameras stamp a frame when its exposure or its transfer starts, so a
  // fresh frame is already some way late when it is taken; the least
  // lateness of the last frames is that of a fresh one. A frame later than
  // that by the camera's interval waited in a buffer: a newer one is there
  // or on its way.
  double lateness = nowMs - capturedMs;
  lateness_[taken_++ % RECENT] = lateness;
  double fresh = *std::min_element(
      lateness_.begin(), lateness_.begin() + std::min(taken_, RECENT));
  if (lateness - fresh > cameraIntervalMs_) return false;
  // The frame nearest to the time due is kept, not the first after it.
  return !anyKept_ || capturedMs >= dueMs_ - cameraIntervalMs_ / 2;
}

void FramePacer::kept(double capturedMs) {
  // Due times keep their step, so that jitter does not add up; a run that
  // fell a whole step behind starts again from this frame.
  dueMs_ = anyKept_ ? dueMs_ + everyMs_ : capturedMs + everyMs_;
  if (dueMs_ <= capturedMs) dueMs_ = capturedMs + everyMs_;
  anyKept_ = true;
}
