#include "run/source/camera_source.h"

#include <linux/videodev2.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

#include "cli/printable.h"
#include "run/ring/jpeg_codec.h"
#include "run/source/camera.h"
#include "run/source/camera_jpeg.h"
#include "run/source/video_capture.h"

namespace {

// How long a camera may give no whole frame before it counts as stopped:
// a camera that hangs, or one that gives only damaged frames.
constexpr double CAMERA_STALL_MS = 10000;

// The monotonic clock in milliseconds, the clock of V4L2 capture times.
double monotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// A side of the frames as the capture reports it, or 0 when it reports
// none that can be.
int sideOf(double reported) {
  return reported >= 1 && reported <= INT32_MAX ? static_cast<int>(reported)
                                                : 0;
}

enum class Wait { Grabbed, WokenWithout, TimedOut, Failed };

// Waits up to slice for the camera's next frame, and takes it from the
// camera when it comes; it is then retrieved as after a grab.
Wait waitForFrame(cv::VideoCapture& camera, std::chrono::nanoseconds slice) {
  const std::vector<cv::VideoCapture> cameras = {camera};
  std::vector<int> ready;
  // The wait is short enough to need no interrupting by a stop signal, and
  // the library prints an error for an interrupted one. Each slice wakes
  // the process, so a slice is as long as the run allows.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  Wait wait = Wait::TimedOut;
  try {
    if (cv::VideoCapture::waitAny(cameras, ready, slice.count()))
      wait = ready.empty() ? Wait::WokenWithout : Wait::Grabbed;
  } catch (const cv::Exception&) {
    wait = Wait::Failed;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return wait;
}

std::string pathOf(const CaptureSource& source) {
  return source.kind == SourceKind::CameraIndex
             ? cameraDevicePath(source.cameraIndex)
             : source.path;
}

std::string notOffered(const std::string& name, FrameSize size,
                       const std::string& offered) {
  return NOT_INITIALIZED + ("\n" + name) + ": " + describeSize(size) +
         " is not offered; " + offered;
}

}  // namespace

CameraSource::CameraSource(const std::string& path)
    : FrameSource(printable(path), path) {}

CameraSource::~CameraSource() { releaseCapture(capture_); }

Result<std::unique_ptr<FrameSource>, Refusal> CameraSource::open(
    const CaptureSource& source, FrameSize size, double rate) {
  std::unique_ptr<CameraSource> camera(new CameraSource(pathOf(source)));
  const std::string& path = camera->inputPath();
  CameraOffer offer = readCameraOffer(path.c_str(), size);
  if (size.width > 0 && offer.known && offer.atSize.empty()) {
    std::string sizes;
    for (const std::string& offered : offer.sizes)
      sizes += (sizes.empty() ? "" : ", ") + offered;
    return Refusal{notOffered(camera->name(), size, "it offers " + sizes)};
  }
  CameraMode mode = chooseCameraMode(offer, size, rate);
  bool opened = source.kind == SourceKind::CameraIndex
                    ? openCamera(source.cameraIndex, mode, camera->capture_)
                    : openCamera(path.c_str(), mode, camera->capture_);
  if (!opened)
    return Refusal{NOT_INITIALIZED + ("\n" + camera->name()) + ": " +
                   cameraFailureReason(path.c_str())};
  if (Status<Refusal> settled = camera->settle(mode, size, rate); !settled.ok())
    return settled.failure();
  return std::unique_ptr<FrameSource>(std::move(camera));
}

Status<Refusal> CameraSource::settle(const CameraMode& mode, FrameSize asked,
                                     double rateAsked) {
  FrameSize given = {sideOf(propertyOf(capture_, cv::CAP_PROP_FRAME_WIDTH)),
                     sideOf(propertyOf(capture_, cv::CAP_PROP_FRAME_HEIGHT))};
  size_ = given;
  if (asked.width > 0 &&
      (given.width != asked.width || given.height != asked.height))
    return Refusal{
        notOffered(name(), asked, "it gives " + describeSize(given))};
  bool convertsFrames = propertyOf(capture_, cv::CAP_PROP_CONVERT_RGB) != 0;
  double fourcc = propertyOf(capture_, cv::CAP_PROP_FOURCC);
  bool givesJpeg = fourcc >= 0 && fourcc <= UINT32_MAX &&
                   static_cast<uint32_t>(fourcc) == V4L2_PIX_FMT_MJPEG;
  jpegFrames_ = !convertsFrames && givesJpeg;
  if (!convertsFrames && !givesJpeg) {
    try {  // raw frames of another format are of no use here
      capture_.set(cv::CAP_PROP_CONVERT_RGB, 1);
    } catch (const cv::Exception&) {
    }
  }
  // A camera that does not say which rates it offers says which it took.
  double rate = propertyOf(capture_, cv::CAP_PROP_FPS);
  double keepEvery = mode.keepEvery;
  if (!mode.ratesKnown && rateAsked > 0 && rate > rateAsked)
    keepEvery = 1 / rateAsked;
  if (keepEvery > 0)
    pacer_.emplace(1000 * keepEvery, rate > 0 ? 1000 / rate : 1000 * keepEvery);
  return {};
}

int64_t CameraSource::frameBytes() const { return frameBytesOf(capture_); }

bool CameraSource::stalled(double nowMs) const {
  return nowMs - lastSoundFrameMs_ > CAMERA_STALL_MS;
}

CameraSource::Grab CameraSource::grab(ReadWatch& watch) {
  // The first grab starts the camera, and has it waited for no longer than
  // the backend was told (prepareSources); its frame is waited for below.
  if (!streaming_) {
    streaming_ = true;
    lastSoundFrameMs_ = monotonicMs();
    if (grabFrame(capture_)) return Grab::Grabbed;
  }
  for (;;) {
    switch (waitForFrame(capture_, watch.askEvery())) {
      case Wait::Grabbed:
        return Grab::Grabbed;
      case Wait::Failed:
        return Grab::Stopped;
      case Wait::WokenWithout:
        // The camera failed (unplugged), which a grab then says at once.
        return grabFrame(capture_) ? Grab::Grabbed : Grab::Stopped;
      case Wait::TimedOut:
        break;
    }
    if (watch.toldToStop()) return Grab::Told;
    if (stalled(monotonicMs())) return Grab::Stopped;
  }
}

ReadResult CameraSource::read(cv::Mat& frame, ReadWatch& watch) {
  // Frames not kept are only taken from the camera, never decoded. While
  // they are passed over, the window still runs and takes ESC.
  for (bool passedOver = false;; passedOver = true) {
    if (passedOver && watch.toldToStop())
      return ReadResult::ended(SourceEnd::Told);
    switch (grab(watch)) {
      case Grab::Grabbed:
        break;
      case Grab::Told:
        return ReadResult::ended(SourceEnd::Told);
      case Grab::Stopped:
        return ReadResult::ended(SourceEnd::CameraStopped);
    }
    double now = monotonicMs();
    double captured = 0;
    if (pacer_) {
      captured = propertyOf(capture_, cv::CAP_PROP_POS_MSEC);
      // A driver that stamps frames by another clock: the time the frame
      // is taken stands for its capture time.
      if (!(std::fabs(now - captured) < 10000)) captured = now;
      if (!pacer_->offer(captured, now)) {
        // A frame the wait took stays taken until it is retrieved; this
        // retrieves a JPEG frame as it came, a raw one converted. A damaged
        // one is not counted, as it was not wanted, but it is no sign of
        // life either.
        if (!retrieveFrame(capture_, raw_))
          return ReadResult::ended(SourceEnd::CameraStopped);
        if (!jpegFrames_ || cameraJpegLayout(raw_, size_.width, size_.height))
          lastSoundFrameMs_ = now;
        else if (stalled(now))
          return ReadResult::ended(SourceEnd::CameraStopped);
        continue;
      }
    }
    if (!retrieveFrame(capture_, jpegFrames_ ? raw_ : frame))
      return ReadResult::ended(SourceEnd::CameraStopped);
    if (jpegFrames_) {
      std::optional<JpegLayout> layout =
          cameraJpegLayout(raw_, size_.width, size_.height);
      if (!layout) {
        // A glitch of the camera, or a frame of another size than it was
        // set to: never an image that does not decode in the ring. A
        // camera that gives nothing else has stopped all the same.
        countMissing(account_, 1);
        if (stalled(now)) return ReadResult::ended(SourceEnd::CameraStopped);
        continue;
      }
      completeJpeg(raw_.ptr<unsigned char>(), *layout, frame);
    }
    lastSoundFrameMs_ = now;
    ++account_.given;
    if (pacer_) pacer_->kept(captured);
    return ReadResult::frame();
  }
}

const cv::Mat* CameraSource::picture(const cv::Mat& frame) {
  if (!jpegFrames_) return &frame;
  return decodeJpeg(frame, decoded_) ? &decoded_ : nullptr;
}
