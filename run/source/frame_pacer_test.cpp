#include "run/source/frame_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double CAMERA_MS = 1000.0 / 30;

// The numbers of the frames kept from count frames of a 30 fps camera,
// each taken from it ageMs(number) after its capture; a negative age is a
// frame the camera dropped.
template <typename Age>
std::vector<int> keptFrames(FramePacer& pacer, int count, Age ageMs) {
  std::vector<int> kept;
  for (int number = 0; number < count; ++number) {
    if (ageMs(number) < 0) continue;
    double captured = number * CAMERA_MS;
    if (!pacer.offer(captured, captured + ageMs(number))) continue;
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
    return number == 6 || number == 7 ? 2 + CAMERA_MS + 1 : 2.0;
  };
  EXPECT_EQ(keptFrames(pacer, 13, waited), (std::vector<int>{0, 8, 12}));
}

TEST(FramePacer, TakesTheCamerasOwnLatenessAsFresh) {
  // A camera that stamps its frames 250 ms before they can be taken, more
  // than its interval: still every 6th frame, and one that waited is not
  // kept.
  FramePacer pacer(200, CAMERA_MS);
  auto late = [](int number) { return number == 12 ? 290.0 : 250.0; };
  EXPECT_EQ(keptFrames(pacer, 19, late), (std::vector<int>{0, 6, 13, 18}));
}

TEST(FramePacer, StartsAgainAfterFallingAStepBehind) {
  // A run that stalls for half a second: the camera drops frames 3 to 17
  // and the two that wait in its buffers are not kept.
  FramePacer pacer(100, CAMERA_MS);
  auto stalled = [](int number) {
    if (number >= 3 && number < 18) return -1.0;
    return number == 18 ? 560.0 : number == 19 ? 530.0 : 2.0;
  };
  EXPECT_EQ(keptFrames(pacer, 27, stalled), (std::vector<int>{0, 20, 23, 26}));
}

}  // namespace
