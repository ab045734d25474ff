#include "run/source/read_tally.h"

#include <gtest/gtest.h>

namespace {

// Reads frames at rate, each with its time, as a file of that rate gives
// them.
void readFrames(ReadTally& tally, int count, double rate = 30) {
  for (int i = 0; i < count; ++i)
    tally.frameRead((tally.tally().given() + 0.0) * 1000.0 / rate);
}

// Fails reads until the tally gives up, and says how many it took.
int failUntilTheEnd(ReadTally& tally) {
  int reads = 1;
  while (tally.countFailedRead()) ++reads;
  return reads;
}

TEST(ReadTally, AWholeFileEndsSoonAndWhole) {
  ReadTally tally(3000, 30, StatedLength::Exact);
  readFrames(tally, 3000);
  EXPECT_LE(failUntilTheEnd(tally), 100);
  EXPECT_FALSE(tally.stoppedShort());
  EXPECT_EQ(tally.tally().lost(), 0);
}

TEST(ReadTally, FramesThatStopWellBeforeTheStatedEnd) {
  ReadTally cut(200, 25, StatedLength::Exact);
  readFrames(cut, 3, 25);
  EXPECT_EQ(failUntilTheEnd(cut), 197);
  EXPECT_TRUE(cut.stoppedShort());

  // No times known (as some mp4 give): the count alone tells.
  ReadTally untimed(3000, 30, StatedLength::Exact);
  for (int i = 0; i < 2091; ++i) untimed.frameRead(0);
  failUntilTheEnd(untimed);
  EXPECT_TRUE(untimed.stoppedShort());
}

TEST(ReadTally, EstimatedLengthsAndSmallShortfallsAreWhole) {
  // A variable rate: 300 frames over 11 s, stated as 11 s at 30 fps.
  ReadTally variable(331, 30, StatedLength::Estimated);
  for (int i = 0; i < 300; ++i) variable.frameRead(i * 11000.0 / 300);
  failUntilTheEnd(variable);
  EXPECT_FALSE(variable.stoppedShort());

  ReadTally offByOne(25, 25, StatedLength::Exact);
  readFrames(offByOne, 24, 25);
  EXPECT_FALSE(offByOne.stoppedShort());

  // A length the file does not state cannot be fallen short of.
  ReadTally unknown(-3.07e15, 30, StatedLength::Exact);
  readFrames(unknown, 5);
  EXPECT_FALSE(unknown.stoppedShort());
  EXPECT_LE(failUntilTheEnd(unknown), 100);

  // A duration that an audio track sets, not the video: 10 s of video in
  // 20 s of sound.
  ReadTally withSound(600, 30, StatedLength::Unknown);
  readFrames(withSound, 300);
  failUntilTheEnd(withSound);
  EXPECT_FALSE(withSound.stoppedShort());
}

TEST(ReadTally, ALengthStatedWronglyIsNotWaitedOut) {
  ReadTally year(30 * 86400.0 * 365, 30, StatedLength::Estimated);
  readFrames(year, 600);
  EXPECT_LE(failUntilTheEnd(year), 10000);
  EXPECT_TRUE(year.stoppedShort());
}

}  // namespace
