#include "run/capture_run.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>
#include <optional>
#include <string>
#include <utility>

#include "run/camera.h"
#include "run/console.h"
#include "run/frame_pipeline.h"
#include "run/frame_window.h"
#include "run/frame_writer.h"
#include "run/stop_signal.h"

namespace {

// The console is ours: the library's warnings (a missing camera, a damaged
// file, an image writer's complaint) stay off it unless its own log
// variables ask for them.
void quietLibraryLogs() {
  if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::cerr.rdbuf(nullptr);  // the image writers print there themselves
  }
  if (std::getenv("OPENCV_FFMPEG_DEBUG") == nullptr)
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);  // FFmpeg's quiet level
}

bool openSource(const CaptureSource& source, cv::VideoCapture& capture) {
  switch (source.kind) {
    case SourceKind::CameraIndex:
      return openCamera(source.cameraIndex, capture);
    case SourceKind::CameraDevice:
      return openCamera(source.path, capture);
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
  return source.kind != SourceKind::VideoFile;
}

bool readFrame(cv::VideoCapture& capture, cv::Mat& frame) {
  try {
    return capture.read(frame) && !frame.empty();
  } catch (const cv::Exception&) {
    return false;  // a source that fails mid-stream has ended
  }
}

// The file or device that the source reads, which no slot may replace and
// which messages about a camera name.
std::string inputPathOf(const CaptureSource& source) {
  return source.kind == SourceKind::CameraIndex
             ? cameraDevicePath(source.cameraIndex)
             : source.path;
}

void printBanner() {
  std::printf(
      "pellux: Conversion from video to image sequence using OpenCV version "
      "%s (%d.%d.%d)\n",
      CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
  std::printf(
      "Hot keys: \n\tESC - quit the program\nType pellux -h for additional "
      "help.\n");
}

}  // namespace

bool checkOutputNames(const RunSettings& settings,
                      std::optional<ImageFormat>& format) {
  const OutputRing& ring = settings.ring;
  // Where the directory cannot be asked (it does not exist yet), the
  // usual limit.
  long partLimit = pathconf(directoryOf(ring.outputBase).c_str(), _PC_NAME_MAX);
  if (partLimit <= 0) partLimit = NAME_MAX;
  if (std::optional<NameTooLong> tooLong = nameTooLong(ring, partLimit)) {
    if (tooLong->limit == NameLimit::Path)
      std::fprintf(stderr,
                   "Output file name for index %d would be longer than %zu "
                   "characters.\n",
                   tooLong->index, SLOT_NAME_SIZE - 1);
    else
      std::fprintf(stderr,
                   "Output file name for index %d would have a part longer "
                   "than %ld characters.\n",
                   tooLong->index, partLimit);
    return false;
  }
  if (!settings.saveImages) return true;
  char name[SLOT_NAME_SIZE];
  formSlotName(ring, ring.firstIndex, name);
  auto chosen = chooseImageFormat(name);
  if (auto* usable = std::get_if<ImageFormat>(&chosen)) {
    format = std::move(*usable);
    return true;
  }
  if (std::get<FormatProblem>(chosen) == FormatProblem::NoWriter)
    std::fprintf(stderr, "No image writer for the extension of %s\n", name);
  else
    std::fprintf(stderr, "The %s image writer cannot write colour frames\n",
                 ring.extension);
  return false;
}

int runCapture(const RunSettings& settings, Console& console) {
  // The environment is set while this is the only thread.
  quietLibraryLogs();
  prepareWindowLibrary();

  // Before the format is proven: a file-size limit fails that write too.
  catchStopSignals();
  if (settings.verbose) printBanner();
  std::optional<ImageFormat> format;
  if (!checkOutputNames(settings, format)) return START_FAILED;

  const CaptureSource& source = settings.source;
  const std::string inputPath = inputPathOf(source);
  cv::VideoCapture capture;
  if (!openSource(source, capture)) {
    std::fprintf(stderr, "Could not initialize capturing...\n");
    if (isCamera(source))
      std::fprintf(stderr, "%s: %s\n", inputPath.c_str(),
                   cameraFailureReason(inputPath.c_str()).c_str());
    return START_FAILED;
  }
  std::optional<FrameWriter> writer;
  if (format) writer.emplace(*format, inputPath.c_str());

  // Without a display there is no window to show frames in or to press
  // ESC in, so the run goes on without one.
  bool haveDisplay = displayAvailable();
  bool haveWindow = haveDisplay && createWindow();
  if (!haveDisplay && settings.showImages && settings.verbose)
    std::printf("No display available: frames are not shown.\n");
  bool showFrames = haveWindow && settings.showImages;

  // Frames are encoded and put in place on threads of their own while the
  // next is taken and shown. The capture decodes into a buffer that no
  // frame in flight uses, so frames are handed over without a copy.
  // Frames drawn in a window leave a core to the drawing and the display
  // server: the key wait paces the loop anyway, and an encoder more there
  // made each cycle longer.
  int cores = usableCores();
  int encoders = showFrames && cores > 1 ? cores - 1 : cores;
  FramePipeline pipeline(writer ? &*writer : nullptr, console, encoders);
  bool started = pipeline.startError() == 0;
  if (!started)
    std::fprintf(stderr, "Could not start the threads that write frames: %s\n",
                 std::strerror(pipeline.startError()));
  char outputName[SLOT_NAME_SIZE];
  int32_t index = settings.ring.firstIndex;
  // A stop signal or a console that lost its reader ends the loop between
  // frames: the frame in hand is not written, those in flight are
  // completed.
  auto stopped = [&] { return stopSignal() != 0 || console.outputLost(); };
  bool sourceEnded = false;
  bool anyFrame = false;
  while (started && !stopped()) {
    cv::Mat& frame = pipeline.nextBuffer();
    if (!readFrame(capture, frame)) {
      sourceEnded = !stopped();
      break;
    }
    if (!anyFrame && haveWindow) fitWindow(frame);
    anyFrame = true;
    if (showFrames) showFrames = showFrame(frame);
    if (haveWindow && (waitForKey() & 0xFF) == ESC) break;
    if (stopped()) break;
    formSlotName(settings.ring, index, outputName);
    pipeline.handOver(outputName);
    index = nextIndex(settings.ring, index);
  }
  int status = pipeline.finish() && started ? 0 : RUN_FAILED;
  // The end of a file is the end of the run; a camera has no end, so one
  // that stops giving frames (unplugged, failed, silent) is a failure that
  // a script or a service manager must see, as is a video that gives none.
  if (sourceEnded && isCamera(source)) {
    std::fprintf(stderr, "%s: the camera stopped giving frames\n",
                 inputPath.c_str());
    status = RUN_FAILED;
  } else if (sourceEnded && !anyFrame) {
    std::fprintf(stderr, "%s: no frame could be read\n", inputPath.c_str());
    status = RUN_FAILED;
  }

  capture.release();
  if (haveWindow) destroyWindow();
  if (stopSignal() != 0) endBySignal(stopSignal());
  if (!console.close()) status = RUN_FAILED;
  return status;
}
