#include "run/capture_run.h"

#include <linux/videodev2.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/stream_url.h"
#include "run/camera.h"
#include "run/camera_jpeg.h"
#include "run/frame_pacer.h"
#include "run/frame_pipeline.h"
#include "run/frame_window.h"
#include "run/frame_writer.h"
#include "run/read_tally.h"
#include "run/stop_signals.h"
#include "run/stream_failure.h"
#include "run/video_container.h"

namespace {

// The first line of every start that found no source to take frames from.
constexpr char NOT_INITIALIZED[] = "Could not initialize capturing...";

// How long a network stream may take to open, and to give each frame: a
// stream that stalls ends the run as soon as a camera that stalls does.
constexpr int STREAM_TIMEOUT_MS = 10000;

// The console is ours: the library's warnings (a missing camera, a damaged
// file, an image writer's complaint, a stream's end) stay off it unless its
// own log variables ask for them.
void quietLibraryLogs() {
  if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::cerr.rdbuf(nullptr);  // the image writers print there themselves
  }
  takeFfmpegLog();
  // RTSP over TCP unless the user chose otherwise: UDP loses packets on a
  // busy network, and most firewalls block it.
  setenv("OPENCV_FFMPEG_CAPTURE_OPTIONS", "rtsp_transport;tcp", 0);
}

// Opens url with FFmpeg, waiting no longer than a stalled camera would.
// Returns why it did not open, or nothing.
std::optional<StreamFailure> openStream(const char* url,
                                        cv::VideoCapture& capture) {
  const std::vector<int> timeouts = {
      cv::CAP_PROP_OPEN_TIMEOUT_MSEC, STREAM_TIMEOUT_MS,
      cv::CAP_PROP_READ_TIMEOUT_MSEC, STREAM_TIMEOUT_MS};
  // FFmpeg knows its protocols by their names in lower case only.
  std::string name = url;
  for (size_t i = 0; i < name.find("://"); ++i)
    name[i] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  clearStreamFailure();
  auto started = std::chrono::steady_clock::now();
  try {
    if (capture.open(name, cv::CAP_FFMPEG, timeouts) && capture.isOpened())
      return std::nullopt;
  } catch (const cv::Exception&) {
  }
  StreamFailure failure = lastStreamFailure();
  if (failure == StreamFailure::Unknown &&
      std::chrono::steady_clock::now() - started >=
          std::chrono::milliseconds(STREAM_TIMEOUT_MS))
    failure = StreamFailure::TimedOut;
  return failure;
}

// Opens source, a camera in mode. Returns whether it opened, and for a
// stream why it did not.
bool openSource(const CaptureSource& source, const CameraMode& mode,
                cv::VideoCapture& capture,
                std::optional<StreamFailure>& streamFailure) {
  switch (source.kind) {
    case SourceKind::CameraIndex:
      return openCamera(source.cameraIndex, mode, capture);
    case SourceKind::CameraDevice:
      return openCamera(source.path, mode, capture);
    case SourceKind::NetworkStream:
      streamFailure = openStream(source.path, capture);
      return !streamFailure;
    case SourceKind::VideoFile:
      break;
  }
  try {
    // Files go to FFmpeg alone: the other backends would also try to read a
    // file that FFmpeg refused, and GStreamer then prints its own errors.
    return capture.open(source.path, cv::CAP_FFMPEG) && capture.isOpened();
  } catch (const cv::Exception&) {
    return false;
  }
}

bool isCamera(const CaptureSource& source) {
  return source.kind == SourceKind::CameraIndex ||
         source.kind == SourceKind::CameraDevice;
}

double propertyOf(const cv::VideoCapture& capture, int property) {
  try {
    return capture.get(property);
  } catch (const cv::Exception&) {
    return 0;
  }
}

// Whether the open stream is live: a stream with no end of its own, where
// a file on a web server states its length.
bool isLiveStream(const CaptureSource& source,
                  const cv::VideoCapture& capture) {
  if (source.kind != SourceKind::NetworkStream) return false;
  return !mayNameFile(source.path) ||
         !(propertyOf(capture, cv::CAP_PROP_FRAME_COUNT) >= 1);
}

bool readFrame(cv::VideoCapture& capture, cv::Mat& frame) {
  try {
    return capture.read(frame) && !frame.empty();
  } catch (const cv::Exception&) {
    return false;  // a source that fails mid-stream has ended
  }
}

bool grabFrame(cv::VideoCapture& capture) {
  try {
    return capture.grab();
  } catch (const cv::Exception&) {
    return false;
  }
}

bool retrieveFrame(cv::VideoCapture& capture, cv::Mat& frame) {
  try {
    return capture.retrieve(frame) && !frame.empty();
  } catch (const cv::Exception&) {
    return false;
  }
}

// The monotonic clock in milliseconds, the clock of V4L2 capture times.
double monotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The size of the frames capture gives, or 0 when it does not say.
int64_t frameBytesOf(const cv::VideoCapture& capture) {
  double width = propertyOf(capture, cv::CAP_PROP_FRAME_WIDTH);
  double height = propertyOf(capture, cv::CAP_PROP_FRAME_HEIGHT);
  if (!(width >= 1 && width <= INT_MAX && height >= 1 && height <= INT_MAX))
    return 0;
  return static_cast<int64_t>(width) * static_cast<int64_t>(height) * 3;
}

// The file, device or URL that the source reads, which no slot may
// replace and which messages about it name, without a password.
std::string inputPathOf(const CaptureSource& source) {
  switch (source.kind) {
    case SourceKind::CameraIndex:
      return cameraDevicePath(source.cameraIndex);
    case SourceKind::NetworkStream:
      return withoutPassword(source.path);
    case SourceKind::CameraDevice:
    case SourceKind::VideoFile:
      break;
  }
  return source.path;
}

void printBanner(Console& console) {
  char version[128];
  std::snprintf(
      version, sizeof version,
      "pellux: Conversion from video to image sequence using OpenCV version "
      "%s (%d.%d.%d)\n",
      CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
  console.printMessage(version);
  console.printMessage(
      "Hot keys: \n\tESC - quit the program\nType pellux -h for additional "
      "help.\n");
}

std::string withReason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Chooses the image format of the ring's slots. Returns why it cannot be
// written, or nothing.
std::optional<std::string> chooseFormat(const OutputRing& ring,
                                        std::optional<ImageFormat>& format) {
  char name[SLOT_NAME_SIZE];
  formSlotName(ring, ring.firstIndex, name);
  auto chosen = chooseImageFormat(name);
  if (auto* usable = std::get_if<ImageFormat>(&chosen)) {
    format = std::move(*usable);
    return std::nullopt;
  }
  if (std::get<FormatProblem>(chosen) == FormatProblem::NoWriter)
    return std::string("No image writer for the extension of ") + name;
  return std::string("The ") + ring.extension +
         " image writer cannot write colour frames";
}

// One run from its start to its end: the source, the window and the
// pipeline that completes frames, each released on every path.
class CaptureRun {
 public:
  // settings, console and signals must outlive the run.
  CaptureRun(const RunSettings& settings, Console& console,
             StopSignals& signals)
      : settings_(settings),
        console_(console),
        signals_(signals),
        inputPath_(inputPathOf(settings.source)) {}

  // Checks the output, opens the source and the window, and starts the
  // pipeline. Returns why the run could not start, or nothing.
  std::optional<std::string> start();

  // Takes frames until the run ends, and says why it ended.
  RunEnd takeFrames();

  // Completes the frames in flight and closes the source and the window.
  RunOutcome finish(RunEnd end);

 private:
  // Reads the next frame into frame, reading past a damaged stretch of a
  // file. Returns whether it got one.
  bool readNext(cv::Mat& frame);

  // Opens the source; a camera in the mode the settings ask for. Returns
  // why it could not, or nothing.
  std::optional<std::string> openSourceAsked();

  // Checks that an open camera gives the size asked for, and learns how
  // its frames come. Returns why the run cannot go on, or nothing.
  std::optional<std::string> settleCamera(const CameraMode& mode);

  // Takes the camera's next frame into frame: below the camera's slowest
  // rate the first one due that is fresh, and a JPEG one only when whole.
  // Returns whether it got one.
  bool takeCameraFrame(cv::Mat& frame);

  // What the window draws for frame: a camera's JPEG image decoded. Null
  // when it cannot be decoded.
  const cv::Mat* drawable(const cv::Mat& frame);

  // Why the run must end before taking the next frame, if it must.
  std::optional<RunEnd> toldToEnd() const {
    if (signals_.arrived() != 0) return RunEnd::StopSignal;
    if (console_.outputLost()) return RunEnd::OutputLost;
    return std::nullopt;
  }

  const RunSettings& settings_;
  Console& console_;
  StopSignals& signals_;
  const std::string inputPath_;
  cv::VideoCapture capture_;
  std::unique_ptr<FrameWindow> window_;
  bool showFrames_ = false;
  bool anyFrame_ = false;
  bool escPressed_ = false;  // while frames were passed over
  bool windowFitted_ = false;
  bool live_ = false;  // a camera or a live stream: it has no end
  // Whether frames are the camera's JPEG images.
  bool jpegFrames_ = false;
  cv::Mat decoded_;  // the last JPEG frame, decoded for the window
  // Which frames a camera run keeps, when asked for a rate slower than
  // any the camera offers.
  std::optional<FramePacer> pacer_;
  // A camera's frames that were not whole images, and how many came
  // before the first of them.
  int64_t framesTaken_ = 0;
  int64_t damagedFrames_ = 0;
  int64_t firstDamagedAfter_ = 0;
  // For a file, which may be damaged or cut short: what its reads gave,
  // and its container read beside them.
  std::optional<ReadTally> tally_;
  std::optional<VideoContainer> container_;
  std::optional<FrameWriter> writer_;
  std::unique_ptr<FramePipeline> pipeline_;
  // Wakes the pipeline's waits on a stop signal; ends before the pipeline.
  std::optional<StopSignals::Waker> wakePipeline_;
};

std::optional<std::string> CaptureRun::start() {
  if (settings_.verbose) printBanner(console_);
  if (std::optional<std::string> refusal = refuseSlotNames(settings_.ring))
    return refusal;
  std::optional<ImageFormat> format;
  if (settings_.saveImages) {
    if (std::optional<std::string> refusal =
            chooseFormat(settings_.ring, format))
      return refusal;
  }

  if (std::optional<std::string> failure = openSourceAsked()) return failure;
  const CaptureSource& source = settings_.source;
  live_ = isCamera(source) || isLiveStream(source, capture_);
  if (!live_) {
    if (source.kind == SourceKind::VideoFile)
      container_ = VideoContainer::open(source.path);
    tally_.emplace(container_ ? container_->stated().expectedFrames() : 0);
  }
  if (format) {
    // A camera's JPEG images are written as they came to JPEG slots, and
    // decoded by the encoders for others.
    format->jpegFrames = jpegFrames_;
    if (jpegFrames_ && format->encoding == Encoding::Jpeg)
      format->encoding = Encoding::AsCaptured;
    writer_.emplace(*format, inputPath_.c_str());
  }

  // Without a display there is no window to show frames in or to press
  // ESC in, so the run goes on without one.
  bool haveDisplay = displayAvailable();
  if (haveDisplay) window_ = FrameWindow::create();
  if (!haveDisplay && settings_.showImages && settings_.verbose)
    console_.printMessage("No display available: frames are not shown.\n");
  showFrames_ = window_ && settings_.showImages;

  // Frames are encoded and put in place on threads of their own while the
  // next is taken and shown. The capture decodes into a buffer that no
  // frame in flight uses, so frames are handed over without a copy.
  // Frames drawn in a window leave a core to the drawing and the display
  // server: the key wait paces the loop anyway, and an encoder more there
  // made each cycle longer.
  int cores = usableCores();
  int encoders = encodersFor(showFrames_ && cores > 1 ? cores - 1 : cores,
                             frameBytesOf(capture_));
  auto started =
      FramePipeline::start(writer_ ? &*writer_ : nullptr, console_, encoders);
  if (int* error = std::get_if<int>(&started))
    return withReason("Could not start the threads that write frames", *error);
  pipeline_ = std::move(std::get<std::unique_ptr<FramePipeline>>(started));
  wakePipeline_.emplace(signals_, [this] { pipeline_->stop(); });
  return std::nullopt;
}

std::optional<std::string> CaptureRun::openSourceAsked() {
  const CaptureSource& source = settings_.source;
  const FrameSize size = settings_.frameSize;
  if (size.width > 0 && !isCamera(source))
    return "-size asks a camera for its frame size: " + inputPath_ +
           " is not a camera";
  CameraMode mode = {0, size, settings_.frameRate, 0, false};
  if (isCamera(source)) {
    CameraOffer offer = readCameraOffer(inputPath_.c_str(), size);
    if (size.width > 0 && offer.known && offer.atSize.empty()) {
      std::string sizes;
      for (const std::string& offered : offer.sizes)
        sizes += (sizes.empty() ? "" : ", ") + offered;
      return NOT_INITIALIZED + ("\n" + inputPath_) + ": " + describeSize(size) +
             " is not offered; it offers " + sizes;
    }
    mode = chooseCameraMode(offer, size, settings_.frameRate);
  }
  std::optional<StreamFailure> streamFailure;
  // Nothing is in flight yet: a source that will not let go of a stop
  // signal may be left to it.
  bool opened = signals_.interruptible(
      [&] { return openSource(source, mode, capture_, streamFailure); },
      [] { return true; });
  if (!opened) {
    std::string reason = NOT_INITIALIZED;
    if (isCamera(source))
      reason +=
          "\n" + inputPath_ + ": " + cameraFailureReason(inputPath_.c_str());
    if (streamFailure)
      reason += "\n" + inputPath_ + ": " + describe(*streamFailure);
    return reason;
  }
  return isCamera(source) ? settleCamera(mode) : std::nullopt;
}

std::optional<std::string> CaptureRun::settleCamera(const CameraMode& mode) {
  const FrameSize asked = settings_.frameSize;
  FrameSize given = {
      static_cast<int>(propertyOf(capture_, cv::CAP_PROP_FRAME_WIDTH)),
      static_cast<int>(propertyOf(capture_, cv::CAP_PROP_FRAME_HEIGHT))};
  if (asked.width > 0 &&
      (given.width != asked.width || given.height != asked.height))
    return NOT_INITIALIZED + ("\n" + inputPath_) + ": " + describeSize(asked) +
           " is not offered; it gives " + describeSize(given);
  bool convertsFrames = propertyOf(capture_, cv::CAP_PROP_CONVERT_RGB) != 0;
  bool givesJpeg = static_cast<uint32_t>(propertyOf(
                       capture_, cv::CAP_PROP_FOURCC)) == V4L2_PIX_FMT_MJPEG;
  jpegFrames_ = !convertsFrames && givesJpeg;
  if (!convertsFrames && !givesJpeg) {
    try {  // raw frames of another format are of no use here
      capture_.set(cv::CAP_PROP_CONVERT_RGB, 1);
    } catch (const cv::Exception&) {
    }
  }
  // A camera that does not say which rates it offers says which it took.
  double rate = propertyOf(capture_, cv::CAP_PROP_FPS);
  double rateAsked = settings_.frameRate;
  double keepEvery = mode.keepEvery;
  if (!mode.ratesKnown && rateAsked > 0 && rate > rateAsked)
    keepEvery = 1 / rateAsked;
  if (keepEvery > 0)
    pacer_.emplace(1000 * keepEvery, rate > 0 ? 1000 / rate : 1000 * keepEvery);
  return std::nullopt;
}

RunEnd CaptureRun::takeFrames() {
  char name[SLOT_NAME_SIZE];
  int32_t index = settings_.ring.firstIndex;
  // A read is left to a stop signal only once the frames in flight are
  // complete.
  const std::function<bool()> completed = [this] {
    pipeline_->giveUpStalledOutput();
    return pipeline_->idle();
  };
  for (;;) {
    if (std::optional<RunEnd> end = toldToEnd()) return *end;
    cv::Mat* frame = pipeline_->nextBuffer();
    if (frame == nullptr) return RunEnd::StopSignal;
    if (!signals_.interruptible([&] { return readNext(*frame); }, completed)) {
      if (signals_.arrived() != 0) return RunEnd::StopSignal;
      // A camera or a live stream has no end: one that stops giving frames
      // (unplugged, failed, silent, its server gone) is a failure that a
      // script or a service manager must see, as is a video that gives
      // none.
      if (escPressed_) return RunEnd::EscPressed;
      if (isCamera(settings_.source)) return RunEnd::CameraStopped;
      if (live_) return RunEnd::StreamStopped;
      return anyFrame_ ? RunEnd::VideoEnded : RunEnd::NoFrame;
    }
    if (window_ && (!windowFitted_ || showFrames_)) {
      // A frame that cannot be drawn leaves the one before in the window.
      if (const cv::Mat* picture = drawable(*frame)) {
        if (!windowFitted_) window_->fit(*picture);
        windowFitted_ = true;
        if (showFrames_) showFrames_ = window_->show(*picture);
      }
    }
    anyFrame_ = true;
    if (window_ && (window_->waitForKey() & 0xFF) == ESC)
      return RunEnd::EscPressed;
    // Told to end while the frame was taken: it is not written, and those
    // in flight are completed.
    if (std::optional<RunEnd> end = toldToEnd()) return *end;
    formSlotName(settings_.ring, index, name);
    pipeline_->handOver(name);
    index = nextIndex(settings_.ring, index);
  }
}

bool CaptureRun::readNext(cv::Mat& frame) {
  if (isCamera(settings_.source)) return takeCameraFrame(frame);
  for (;;) {
    if (readFrame(capture_, frame)) {
      if (tally_)
        tally_->frameRead(propertyOf(capture_, cv::CAP_PROP_POS_MSEC));
      return true;
    }
    // A file on a web server is not read again: its failed read may have
    // waited out the time-out.
    bool readAgain = tally_ && settings_.source.kind == SourceKind::VideoFile &&
                     signals_.arrived() == 0 && tally_->failedReadAgain();
    if (!readAgain) return false;
  }
}

bool CaptureRun::takeCameraFrame(cv::Mat& frame) {
  // Frames not kept are only taken from the camera, never decoded. While
  // they are passed over, the window still runs and takes ESC.
  for (bool passedOver = false;; passedOver = true) {
    if (passedOver && window_ && (window_->pollKey() & 0xFF) == ESC)
      escPressed_ = true;
    if (escPressed_ || signals_.arrived() != 0 || !grabFrame(capture_))
      return false;
    double captured = 0;
    if (pacer_) {
      double now = monotonicMs();
      captured = propertyOf(capture_, cv::CAP_PROP_POS_MSEC);
      // A driver that stamps frames by another clock: the time the frame
      // is taken stands for its capture time.
      if (!(std::fabs(now - captured) < 10000)) captured = now;
      if (!pacer_->isDue(captured, now)) continue;
    }
    if (!retrieveFrame(capture_, frame)) return false;
    if (jpegFrames_ && !wholeJpeg(frame)) {
      // A glitch of the camera: never a broken image in the ring.
      if (damagedFrames_++ == 0) firstDamagedAfter_ = framesTaken_;
      continue;
    }
    ++framesTaken_;
    if (pacer_) pacer_->kept(captured);
    return true;
  }
}

const cv::Mat* CaptureRun::drawable(const cv::Mat& frame) {
  if (!jpegFrames_) return &frame;
  return decodeJpeg(frame, decoded_) ? &decoded_ : nullptr;
}

RunOutcome CaptureRun::finish(RunEnd end) {
  RunOutcome outcome = {end, inputPath_};
  if (damagedFrames_ > 0) {
    outcome.undecodedFrames = damagedFrames_;
    outcome.firstUndecodedAfter = firstDamagedAfter_;
  }
  if (tally_) {
    FrameAccount account = tally_->account();
    if (end == RunEnd::VideoEnded && container_)
      account = tally_->account(container_->stated(), [this] {
        return container_->demux([this] { return signals_.arrived() != 0; });
      });
    if (account.stopped) {
      outcome.end = RunEnd::VideoCutShort;
      outcome.framesRead = account.given;
      outcome.framesStated = account.given + account.missing;
    } else {
      outcome.undecodedFrames = account.missing;
      outcome.firstUndecodedAfter = account.firstMissingAfter;
    }
  }
  outcome.framesFailed = !pipeline_->finish();
  try {
    capture_.release();
  } catch (const cv::Exception&) {
  }
  window_.reset();
  return outcome;
}

RunOutcome capture(const RunSettings& settings, Console& console,
                   StopSignals& signals) {
  CaptureRun run(settings, console, signals);
  // A stop signal interrupts whatever the start waits for: the source, a
  // reader of the messages.
  if (std::optional<std::string> failure =
          signals.interruptible([&] { return run.start(); }))
    return {RunEnd::StartFailed, *failure};
  return run.finish(run.takeFrames());
}

}  // namespace

std::optional<std::string> refuseSlotNames(const OutputRing& ring) {
  // Where the directory cannot be asked (it does not exist yet), the
  // usual limit.
  long partLimit = pathconf(directoryOf(ring.outputBase).c_str(), _PC_NAME_MAX);
  if (partLimit <= 0) partLimit = NAME_MAX;
  std::optional<NameTooLong> tooLong = nameTooLong(ring, partLimit);
  if (!tooLong) return std::nullopt;
  char text[128];
  if (tooLong->limit == NameLimit::Path)
    std::snprintf(text, sizeof text,
                  "Output file name for index %d would be longer than %zu "
                  "characters.",
                  tooLong->index, SLOT_NAME_SIZE - 1);
  else
    std::snprintf(text, sizeof text,
                  "Output file name for index %d would have a part longer "
                  "than %ld characters.",
                  tooLong->index, partLimit);
  return std::string(text);
}

RunOutcome runCapture(const RunSettings& settings, Console& console) {
  // The environment is set while this is the only thread.
  quietLibraryLogs();
  prepareWindowLibrary();
  auto started = StopSignals::start();
  if (int* error = std::get_if<int>(&started))
    return {
        RunEnd::StartFailed,
        withReason("Could not start the thread that takes signals", *error)};
  StopSignals& signals = *std::get<std::unique_ptr<StopSignals>>(started);

  RunOutcome outcome = capture(settings, console, signals);
  outcome.outputError = console.close();
  // A reader of stdout that went away ends the run as it ends any writer
  // to a pipe nobody reads, unless SIGPIPE was ignored (as services have
  // it), where the run says so instead.
  if (outcome.outputError == EPIPE && signals.takes(SIGPIPE)) {
    outcome.end = RunEnd::StopSignal;
    outcome.signal = SIGPIPE;
    outcome.outputError = 0;
  }
  // Everything is closed: a stop signal that comes from here on ends the
  // process as it would without pellux.
  if (int signal = signals.stopTaking()) {
    outcome.end = RunEnd::StopSignal;
    outcome.signal = signal;
  }
  return outcome;
}
