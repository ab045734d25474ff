// A network stream: opened and read by FFmpeg with time-outs, and, being
// live, with no end of its own; a file on a web server is read as a file.
#pragma once

#include <memory>
#include <opencv2/videoio.hpp>
#include <string>

#include "run/ring/result.h"
#include "run/source/frame_source.h"

class StreamSource : public FrameSource {
 public:
  // Opens url: a live stream, or for an http(s) URL of a file that states
  // its length, that file.
  static Result<std::unique_ptr<FrameSource>, Refusal> open(const char* url);
  ~StreamSource() override;

  int64_t frameBytes() const override;

  // Reads the next frame. Ends with StreamStopped once the stream ends,
  // its server goes away or it stalls; with StreamSilent when it never
  // gave a frame.
  ReadResult read(cv::Mat& frame, ReadWatch& watch) override;

  const FrameTally& tally() const override { return tally_; }

 private:
  StreamSource(cv::VideoCapture capture, std::string name);

  cv::VideoCapture capture_;
  FrameTally tally_;
};
