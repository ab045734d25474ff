// A network stream: opened and read by FFmpeg with time-outs, and, being
// live, with no end of its own; a file on a web server is read as a file.
#pragma once

#include <chrono>
#include <memory>
#include <opencv2/videoio.hpp>
#include <optional>
#include <string>

#include "run/ring/result.h"
#include "run/source/frame_source.h"
#include "run/source/stream_pacer.h"

class StreamSource : public FrameSource {
 public:
  // Opens url: a live stream, kept to rate frames a second where rate is
  // above 0, or for an http(s) URL of a file that states its length, that
  // file, which gives every frame.
  static Result<std::unique_ptr<FrameSource>, Refusal> open(const char* url,
                                                            double rate);
  ~StreamSource() override;

  int64_t frameBytes() const override;

  // Reads the next frame: with a rate, the first one due by the stream's
  // times, the frames in between decoded (as the next ones need them) but
  // not converted. Ends with StreamStopped once the stream ends, its server
  // goes away or it stalls; with StreamSilent when it never gave a frame.
  ReadResult read(cv::Mat& frame, ReadWatch& watch) override;

  FrameAccount account() const override { return account_; }

 private:
  StreamSource(cv::VideoCapture capture, std::string name, double rate,
               std::chrono::steady_clock::time_point opening);

  cv::VideoCapture capture_;
  // When its opening began: a stream that gives no frame has not answered
  // since then.
  const std::chrono::steady_clock::time_point opening_;
  FrameAccount account_;
  std::optional<StreamPacer> pacer_;
};
