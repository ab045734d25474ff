#include "run/source/read_tally.h"

#include <gtest/gtest.h>

namespace {

// Reads frames at rate, each with its time, as a file of that rate gives
// them; the decoder's last frames (trailing of them) come without a time.
void readFrames(ReadTally& tally, int count, double rate = 25,
                int trailing = 0) {
  for (int i = 0; i < count; ++i)
    tally.frameRead(i < count - trailing ? tally.frames() * 1000.0 / rate : 0);
}

// Fails reads until the tally gives up, and says how many it took.
int failUntilTheEnd(ReadTally& tally) {
  int reads = 1;
  while (tally.countFailedRead()) ++reads;
  return reads;
}

// What a demuxer gives of frames at rate: those of first to last, less
// those in [gapFrom, gapTo).
DemuxedFrames demuxedAt(double rate, int last, int gapFrom = 0, int gapTo = 0) {
  DemuxedFrames frames;
  for (int i = 0; i <= last; ++i) {
    if (i >= gapFrom && i < gapTo) continue;
    frames.timesMs.push_back(i * 1000.0 / rate);
    ++frames.count;
  }
  frames.endMs = (last + 1) * 1000.0 / rate;
  return frames;
}

FrameAccount atTheEnd(const ReadTally& tally, const StatedLength& stated,
                      const DemuxedFrames& demuxed) {
  return tally.account(stated, [&] { return std::optional(demuxed); });
}

void expectAccount(const FrameAccount& account, int64_t given, int64_t missing,
                   bool stopped, int64_t after = 0) {
  EXPECT_EQ(account.given, given);
  EXPECT_EQ(account.missing, missing);
  EXPECT_EQ(account.stopped, stopped);
  EXPECT_EQ(account.firstMissingAfter, after);
}

TEST(ReadTally, ReadsPastADamagedStretchButNotPastTheEnd) {
  ReadTally whole(3000);
  readFrames(whole, 3000);
  EXPECT_LE(failUntilTheEnd(whole), 100);

  ReadTally cut(200);
  readFrames(cut, 3);
  EXPECT_EQ(failUntilTheEnd(cut), 197);

  // Nothing stated, or a length stated wrongly, is not waited out.
  ReadTally unknown(0);
  EXPECT_LE(failUntilTheEnd(unknown), 100);
  ReadTally year(30 * 86400LL * 365);
  readFrames(year, 600);
  EXPECT_LE(failUntilTheEnd(year), 10000);

  // Failed reads that frames followed, by the reads alone.
  ReadTally damaged(0);
  readFrames(damaged, 10);
  damaged.countFailedRead();
  damaged.countFailedRead();
  readFrames(damaged, 5);
  expectAccount(damaged.account(), 15, 2, false, 10);
}

TEST(ReadTally, WholeFilesAreWhole) {
  // Every frame a container counts: the file is not read again.
  ReadTally counted(250);
  readFrames(counted, 250, 25, 2);
  bool demuxed = false;
  FrameAccount account = counted.account({250, NAN, 25}, [&] {
    demuxed = true;
    return std::optional<DemuxedFrames>();
  });
  expectAccount(account, 250, 0, false);
  EXPECT_FALSE(demuxed);

  // A slideshow of 4 frames over 15.04 s, stated as 376 at 25 fps; the
  // decoder hands the last two over without their times.
  ReadTally slideshow(376);
  for (double time : {0.0, 2000.0, 0.0, 0.0}) slideshow.frameRead(time);
  DemuxedFrames shown;
  shown.count = 4;
  shown.timesMs = {0, 2000, 5000, 15000};
  shown.endMs = 15040;
  expectAccount(atTheEnd(slideshow, {0, 15040, 25}, shown), 4, 0, false);

  // A file that states no length, cut within its 25th frame, which could
  // not be decoded: that frame is not one it holds.
  ReadTally gif(0);
  readFrames(gif, 24);
  DemuxedFrames cutInTwo = demuxedAt(25, 24);
  cutInTwo.cutFrameMs = 960;
  expectAccount(atTheEnd(gif, {}, cutInTwo), 24, 0, false);
}

TEST(ReadTally, FramesThatStopAreCutShort) {
  // An mp4 whose data stops before its index does.
  ReadTally mp4(250);
  readFrames(mp4, 120, 25, 2);
  DemuxedFrames indexed = demuxedAt(25, 119);
  indexed.indexed = true;
  indexed.skipped = 130;
  indexed.firstSkipped = 120;
  indexed.lastGiven = false;
  expectAccount(atTheEnd(mp4, {250, NAN, 25}, indexed), 120, 130, true);

  // An AVI cut short and without its index, whose headers count 251
  // places in time, the second of them empty.
  ReadTally avi(251);
  DemuxedFrames counted = demuxedAt(25, 104, 1, 2);
  for (double time : counted.timesMs) avi.frameRead(time);
  expectAccount(atTheEnd(avi, {251, NAN, 25}, counted), 104, 146, true);

  // A decoder that gives up while the demuxer has frames to come, after a
  // damaged stretch.
  ReadTally gaveUp(0);
  readFrames(gaveUp, 50);
  gaveUp.countFailedRead();
  readFrames(gaveUp, 50);
  expectAccount(atTheEnd(gaveUp, {}, demuxedAt(25, 249)), 100, 150, true);
}

TEST(ReadTally, FramesAfterAGapCouldNotBeDecoded) {
  // 63 frames lost from 121 on, 50 of them failed reads, the others
  // passed over by the decoder without one; the last two come untimed.
  ReadTally h264(250);
  readFrames(h264, 121);
  for (int i = 0; i < 50; ++i) h264.countFailedRead();
  for (int i = 184; i < 248; ++i) h264.frameRead(i * 40.0);
  h264.frameRead(0);
  h264.frameRead(0);
  DemuxedFrames all = demuxedAt(25, 249);
  all.indexed = true;
  expectAccount(atTheEnd(h264, {250, NAN, 25}, all), 187, 63, false, 121);

  // An AVI whose demuxer read past 50 frames, numbering those after them
  // on from the last before; it gave the last indexed frame.
  ReadTally avi(250);
  readFrames(avi, 200);
  DemuxedFrames resynced = demuxedAt(25, 199);
  resynced.indexed = true;
  resynced.skipped = 50;
  resynced.firstSkipped = 97;
  expectAccount(atTheEnd(avi, {250, NAN, 25}, resynced), 200, 50, false, 97);

  // Frames the demuxer gave and the decoder passed over, in a file that
  // states nothing, with frames handed over out of order after them.
  ReadTally ts(0);
  for (int i = 0; i < 250; ++i)
    if (i < 30 || i >= 40)
      ts.frameRead((i == 41 ? 40 : i == 40 ? 41 : i) * 40.0);
  expectAccount(atTheEnd(ts, {}, demuxedAt(25, 249)), 240, 10, false, 30);
}

TEST(ReadTally, AFileThatCannotBeReadAgainIsToldByItsReads) {
  ReadTally tally(250);
  readFrames(tally, 100);
  tally.countFailedRead();
  readFrames(tally, 100);
  FrameAccount account = tally.account(
      {250, NAN, 25}, [] { return std::optional<DemuxedFrames>(); });
  expectAccount(account, 200, 1, false, 100);
}

}  // namespace
