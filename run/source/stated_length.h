// What a video file holds by its container: the length it states for its
// video, and the frames its demuxer gives when read without decoding.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

struct AVFormatContext;

struct StatedLength {
  // The frames its index lists, or an AVI's headers count; 0 when it
  // records none to trust (a writer that could not go back to fill the
  // count in left a placeholder).
  int64_t frames = 0;
  // Where its video ends, in ms from the video's start, by a duration it
  // states for the video alone; NAN when it states none.
  double endMs = NAN;
  double rate = 0;  // frames per second, 0 when unknown

  // The frames it holds by what it states, 0 when it states nothing.
  int64_t expectedFrames() const;
};

// The video frames a demuxer gave, from the file's start to its end.
struct DemuxedFrames {
  int64_t count = 0;
  // Their times in ms from the video's start, ascending, as the capture
  // reports them; empty when some frame had none.
  std::vector<double> timesMs;
  double endMs = 0;  // where the last one ends
  // The time of the last in the file, where the file ends within it (fewer
  // bytes came than it has, or they run to the file's end); NAN otherwise.
  double cutFrameMs = NAN;
  // Whether the container indexes every frame (mp4, mov, avi); if so,
  // those the demuxer did not give (a damaged stretch it read past), how
  // many came before the first of them, and whether it gave the last.
  bool indexed = false;
  int64_t skipped = 0;
  int64_t firstSkipped = 0;
  bool lastGiven = true;
};

// What container, open with its streams' information read, states for its
// stream video; indexedAtOpen is how many frames of it the index listed
// before any packet was read. The file at path is read for what FFmpeg
// does not keep.
StatedLength statedLengthOf(const AVFormatContext& container, int video,
                            int64_t indexedAtOpen, const char* path);

// Whether container's index lists every frame of a stream, not only its
// key frames.
bool indexesEveryFrame(const AVFormatContext& container);
