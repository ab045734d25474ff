// A video file, on disk or on a web server: read frame by frame, past a
// damaged stretch, with its end told from the length it states.
#pragma once

#include <memory>
#include <opencv2/videoio.hpp>
#include <string>

#include "run/ring/result.h"
#include "run/source/frame_source.h"
#include "run/source/read_tally.h"

class FileSource : public FrameSource {
 public:
  // Opens the video file at path.
  static Result<std::unique_ptr<FrameSource>, Refusal> open(const char* path);

  // A file on a web server, open in capture, which it takes; name is its
  // URL as messages show it. A failed read is not tried again, as it may
  // have waited out the time-out.
  FileSource(cv::VideoCapture capture, std::string name);
  ~FileSource() override;

  int64_t frameBytes() const override;

  // Reads the next frame. Ends with VideoEnded, VideoCutShort when the
  // frames stopped well before the end the file states, or NoFrame.
  ReadResult read(cv::Mat& frame, ReadWatch& watch) override;

  const FrameTally& tally() const override { return tally_.tally(); }
  int64_t statedFrames() const override { return tally_.statedFrames(); }

 private:
  FileSource(cv::VideoCapture capture, std::string name, std::string path,
             StatedLength length);
  ReadResult end() const;

  cv::VideoCapture capture_;
  const bool local_;
  ReadTally tally_;
};
