// A source of frames for the run: a camera, a video file or a network
// stream, each with its own way of reading, of pacing and of ending.
#pragma once

#include <chrono>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>
#include <utility>

#include "run/source/frame_account.h"

// The first of the lines that say a source could not be opened, or never
// gave a frame; the next one says why.
constexpr char NOT_INITIALIZED[] = "Could not initialize capturing...";

// How a source's frames ended.
enum class SourceEnd {
  VideoEnded,     // a video gave its last frame
  VideoCutShort,  // its frames stopped well before the end it states
  NoFrame,        // a video opened but gave no frame at all
  CameraStopped,  // a camera stopped giving whole frames
  StreamStopped,  // a live stream stopped giving frames
  StreamSilent,   // a live stream gave no frame at all: it never started
  Told,           // the run was told to stop while the source waited
};

// What a source asks while it waits for a frame or passes frames over.
class ReadWatch {
 public:
  // Lets the window run its events and reads its key. Returns whether the
  // run is to stop.
  virtual bool toldToStop() = 0;
  // How long a wait that blocks the signals may last before it asks
  // again: a key wait where a window takes ESC, else as long as a stop
  // signal may go unseen.
  virtual std::chrono::milliseconds askEvery() const = 0;

 protected:
  ~ReadWatch() = default;
};

// What a read gave: the next frame, in the buffer it was read into, or the
// end of the source's frames.
class ReadResult {
 public:
  static ReadResult frame() { return ReadResult(true, SourceEnd::Told, {}); }
  // why says, for StreamSilent, why the stream did not start.
  static ReadResult ended(SourceEnd end, std::string why = {}) {
    return ReadResult(false, end, std::move(why));
  }

  bool gotFrame() const { return gotFrame_; }
  SourceEnd end() const { return end_; }
  const std::string& why() const { return why_; }

 private:
  ReadResult(bool gotFrame, SourceEnd end, std::string why)
      : gotFrame_(gotFrame), end_(end), why_(std::move(why)) {}

  bool gotFrame_;
  SourceEnd end_;
  std::string why_;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  // The source as messages name it: a path, or a URL with its secrets
  // hidden, with control characters written out.
  const std::string& name() const { return name_; }

  // The file or device the frames come from, which no slot may replace;
  // empty for a stream.
  const std::string& inputPath() const { return inputPath_; }

  // The size of a decoded frame in bytes; 0 when the source does not say.
  virtual int64_t frameBytes() const = 0;

  // Whether frames are a camera's JPEG images, whole, each a row of bytes.
  virtual bool givesJpeg() const { return false; }

  // Reads the next frame into frame, asking watch whenever it waits or
  // passes frames over; told to stop, it ends with Told.
  virtual ReadResult read(cv::Mat& frame, ReadWatch& watch) = 0;

  // What the window draws for a frame this source gave; null when it
  // cannot be drawn. Valid until the next call.
  virtual const cv::Mat* picture(const cv::Mat& frame) { return &frame; }

  // The frames given so far, and those the source held that were not.
  virtual FrameAccount account() const = 0;

 protected:
  FrameSource(std::string name, std::string inputPath)
      : name_(std::move(name)), inputPath_(std::move(inputPath)) {}

 private:
  const std::string name_;
  const std::string inputPath_;
};
