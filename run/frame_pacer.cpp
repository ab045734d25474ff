#include "run/frame_pacer.h"

bool FramePacer::isDue(double capturedMs, double nowMs) const {
  // A frame older than the camera's interval waited in a buffer: a newer
  // one is there or on its way.
  if (nowMs - capturedMs > cameraIntervalMs_) return false;
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
