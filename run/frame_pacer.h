// Keeping one camera frame every so often by its capture time, for a rate
// slower than any the camera offers: always the newest frame, never one
// that waited in a buffer.
#pragma once

class FramePacer {
 public:
  // Keeps a frame every everyMs of capture time, from a camera that gives
  // one every cameraIntervalMs.
  FramePacer(double everyMs, double cameraIntervalMs)
      : everyMs_(everyMs), cameraIntervalMs_(cameraIntervalMs) {}

  // Whether the frame captured at capturedMs, taken from the camera at
  // nowMs, is to be kept: it is due, and no newer frame can be waiting.
  bool isDue(double capturedMs, double nowMs) const;

  // Says that the frame captured at capturedMs was kept.
  void kept(double capturedMs);

 private:
  const double everyMs_;
  const double cameraIntervalMs_;
  bool anyKept_ = false;
  double dueMs_ = 0;  // when the next frame is due, once one was kept
};
