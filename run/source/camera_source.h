// A camera: opened through V4L2 in the size, format and rate asked for,
// kept to a slower rate than it offers by its capture times, its JPEG
// frames checked whole, and stopped once it gives no whole frame.
#pragma once

#include <memory>
#include <opencv2/videoio.hpp>
#include <optional>
#include <string>

#include "cli/capture_source.h"
#include "cli/run_settings.h"
#include "run/ring/result.h"
#include "run/source/camera_mode.h"
#include "run/source/frame_pacer.h"
#include "run/source/frame_source.h"

class CameraSource : public FrameSource {
 public:
  // Opens the camera source names, asking it for size (0x0 for the
  // default) and rate (0 for its own).
  static Result<std::unique_ptr<FrameSource>, Refusal> open(
      const CaptureSource& source, FrameSize size, double rate);
  ~CameraSource() override;

  int64_t frameBytes() const override;
  bool givesJpeg() const override { return jpegFrames_; }

  // Takes the camera's next whole frame: below the camera's slowest rate
  // the first one due that is fresh. Ends with CameraStopped once the
  // camera fails, or gives no whole frame for 10 s.
  ReadResult read(cv::Mat& frame, ReadWatch& watch) override;

  // A JPEG frame is decoded for the window.
  const cv::Mat* picture(const cv::Mat& frame) override;

  FrameAccount account() const override { return account_; }

 private:
  enum class Grab { Grabbed, Stopped, Told };

  explicit CameraSource(const std::string& path);
  Status<Refusal> settle(const CameraMode& mode, FrameSize asked,
                         double rateAsked);
  // Takes the next frame from the camera without decoding it, letting
  // watch run while it waits; stopped when the camera fails or gives no
  // frame for CAMERA_STALL_MS.
  Grab grab(ReadWatch& watch);
  bool stalled(double nowMs) const;

  cv::VideoCapture capture_;
  FrameAccount account_;
  FrameSize size_ = {0, 0};  // the size the camera was set to
  bool streaming_ = false;
  bool jpegFrames_ = false;
  // Which frames are kept, when the run asked for a rate slower than any
  // the camera offers.
  std::optional<FramePacer> pacer_;
  // When the camera last gave a frame that was whole or passed over
  // whole, on the monotonic clock in milliseconds.
  double lastSoundFrameMs_ = 0;
  cv::Mat raw_;      // a JPEG frame as the camera gave it
  cv::Mat decoded_;  // the last JPEG frame, decoded for the window
};
