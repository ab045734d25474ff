#include "run/source/stream_pacer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// Offers frames of a 25 fps stream for seconds, each with its time shifted
// by jitter (up to plus or minus 15 ms) and, where noTimeEvery says,
// without a time of its own: it then arrives on a clock 5 s apart. Returns
// the stream times of the frames kept.
std::vector<double> kept(StreamPacer& pacer, double seconds, int noTimeEvery,
                         unsigned seed) {
  std::srand(seed);
  std::vector<double> times;
  for (int frame = 0; frame < seconds * 25; ++frame) {
    double time = 1000 + frame * 40.0 + (std::rand() % 31 - 15);
    bool timed = noTimeEvery == 0 || frame % noTimeEvery != 0;
    if (pacer.offer(timed ? time : 0, time + 5000)) times.push_back(time);
  }
  return times;
}

TEST(StreamPacer, KeepsOneFrameEveryStepOfStreamTime) {
  for (int noTimeEvery : {0, 3}) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
      StreamPacer pacer(1000);
      std::vector<double> times = kept(pacer, 60, noTimeEvery, seed);
      // A frame a second, each within a frame and its jitter of its step.
      ASSERT_EQ(times.size(), 60u) << noTimeEvery << " " << seed;
      for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_NEAR(times[i], 1000 + 1000.0 * i, 40 + 30)
            << noTimeEvery << " " << seed;
    }
  }
}

TEST(StreamPacer, StartsAgainWhenTimesGoBackOrJump) {
  StreamPacer pacer(500);
  EXPECT_TRUE(pacer.offer(10000, 0));
  EXPECT_FALSE(pacer.offer(10040, 40));
  EXPECT_TRUE(pacer.offer(10500, 500));
  EXPECT_TRUE(pacer.offer(200, 540));  // the stream started again
  EXPECT_FALSE(pacer.offer(240, 580));
  EXPECT_TRUE(pacer.offer(700, 1040));
  EXPECT_TRUE(pacer.offer(60000, 1080));  // a gap: steps from here
  EXPECT_FALSE(pacer.offer(60400, 1480));
  EXPECT_TRUE(pacer.offer(60500, 1580));
}

}  // namespace
