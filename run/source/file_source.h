// A video file, on disk or on a web server: read frame by frame, past a
// damaged stretch, with its end told from what its container holds.
#pragma once

#include <memory>
#include <opencv2/videoio.hpp>
#include <optional>
#include <string>

#include "run/ring/result.h"
#include "run/source/frame_source.h"
#include "run/source/read_tally.h"
#include "run/source/video_container.h"

class FileSource : public FrameSource {
 public:
  // Opens the video file at path, and its container a second time beside
  // the capture, to know what it holds.
  static Result<std::unique_ptr<FrameSource>, Refusal> open(const char* path);

  // A file on a web server, open in capture, which it takes; name is its
  // URL as messages show it. A failed read is not tried again, as it may
  // have waited out the time-out, and the file is not asked for again.
  FileSource(cv::VideoCapture capture, std::string name);
  ~FileSource() override;

  int64_t frameBytes() const override;

  // Reads the next frame. Ends with VideoEnded, VideoCutShort when the
  // frames stopped before the end of what the file holds, or NoFrame.
  ReadResult read(cv::Mat& frame, ReadWatch& watch) override;

  // Before the end, by the reads alone; at the end, against what the file
  // holds.
  FrameAccount account() const override;

 private:
  FileSource(cv::VideoCapture capture, std::string name, std::string path,
             std::optional<VideoContainer> container);
  ReadResult end(ReadWatch& watch);

  cv::VideoCapture capture_;
  const bool local_;
  std::optional<VideoContainer> container_;
  ReadTally tally_;
  std::optional<FrameAccount> atEnd_;
};
