// Keeping one camera frame every so often by its capture time, for a rate
// slower than any the camera offers: always the newest frame, never one
// that waited in a buffer.
#pragma once

#include <array>
#include <cstddef>

class FramePacer {
 public:
  // Keeps a frame every everyMs of capture time, from a camera that gives
  // one every cameraIntervalMs.
  FramePacer(double everyMs, double cameraIntervalMs)
      : everyMs_(everyMs), cameraIntervalMs_(cameraIntervalMs) {}

  // Offers the frame captured at capturedMs, taken from the camera at
  // nowMs; every frame taken is offered, in turn, as each tells how late a
  // fresh frame is. Returns whether to keep it: it is due, and no newer
  // frame can be waiting.
  bool offer(double capturedMs, double nowMs);

  // Says that the frame captured at capturedMs was kept.
  void kept(double capturedMs);

 private:
  // How many of the last frames taken tell how late a fresh frame is.
  static constexpr std::size_t RECENT = 8;

  const double everyMs_;
  const double cameraIntervalMs_;
  bool anyKept_ = false;
  double dueMs_ = 0;  // when the next frame is due, once one was kept
  // How long after its capture time each of the last frames was taken.
  std::array<double, RECENT> lateness_ = {};
  std::size_t taken_ = 0;
};
