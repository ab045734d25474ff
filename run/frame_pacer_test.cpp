#include "run/frame_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double CAMERA_MS = 1000.0 / 30;

// The numbers of the frames kept from count frames of a 30 fps camera,
// each taken from it ageMs(number) after its capture.
template <typename Age>
std::vector<int> keptFrames(FramePacer& pacer, int count, Age ageMs) {
  std::vector<int> kept;
  for (int number = 0; number < count; ++number) {
    double captured = number * CAMERA_MS;
    if (!pacer.isDue(captured, captured + ageMs(number))) continue;
    pacer.kept(captured);
    kept.push_back(number);
  }
  return kept;
}

TEST(FramePacer, KeepsAFrameEveryStepOfCaptureTime) {
  FramePacer fiveAFrame(200, CAMERA_MS);
  EXPECT_EQ(keptFrames(fiveAFrame, 31, [](int) { return 2.0; }),
            (std::vector<int>{0, 6, 12, 18, 24, 30}));
  // A step that is not a whole number of frames: the nearest frame, and
  // the steps do not drift.
  FramePacer everyFifty(50, CAMERA_MS);
  EXPECT_EQ(keptFrames(everyFifty, 13, [](int) { return 2.0; }),
            (std::vector<int>{0, 1, 3, 4, 6, 7, 9, 10, 12}));
}

TEST(FramePacer, NeverKeepsAFrameThatWaitedInABuffer) {
  FramePacer pacer(200, CAMERA_MS);
  // Frames 6 and 7 waited longer than the camera's interval: 8 is kept in
  // their place, and the next step still comes at frame 12.
  auto waited = [](int number) {
    return number == 6 || number == 7 ? CAMERA_MS + 1 : 2.0;
  };
  EXPECT_EQ(keptFrames(pacer, 13, waited), (std::vector<int>{0, 8, 12}));
}

TEST(FramePacer, StartsAgainAfterFallingAStepBehind) {
  FramePacer pacer(100, CAMERA_MS);
  auto stalled = [](int number) {
    return number >= 3 && number < 20 ? 1000.0 : 2.0;
  };
  EXPECT_EQ(keptFrames(pacer, 27, stalled), (std::vector<int>{0, 20, 23, 26}));
}

}  // namespace
