// A video file's container, opened a second time beside the capture that
// decodes it: the length it states, and the frames its demuxer gives when
// read without decoding.
#pragma once

#include <functional>
#include <optional>

#include "run/source/stated_length.h"

struct AVFormatContext;

class VideoContainer {
 public:
  // Opens the regular file at path, reading its streams' information.
  // Nothing for anything else (a pipe's bytes would be taken from the
  // capture, a web server asked again) or where FFmpeg finds no video.
  static std::optional<VideoContainer> open(const char* path);

  VideoContainer(VideoContainer&& other) noexcept;
  VideoContainer& operator=(VideoContainer&& other) noexcept;
  ~VideoContainer();

  const StatedLength& stated() const { return stated_; }

  // Reads the video's packets from where the opening left off to the end
  // (once: the demuxer does not go back). Nothing when stopNow says to stop
  // first, or the packets cannot be read.
  std::optional<DemuxedFrames> demux(const std::function<bool()>& stopNow);

 private:
  VideoContainer(AVFormatContext* container, int video, StatedLength stated,
                 bool indexed)
      : container_(container),
        video_(video),
        stated_(stated),
        indexed_(indexed) {}

  AVFormatContext* container_;
  int video_;
  StatedLength stated_;
  bool indexed_;  // its index, read with the header, lists every frame
};
