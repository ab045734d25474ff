#include "run/source/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/videoio/registry.hpp>
#include <vector>

#include "run/ring/file_descriptor.h"

namespace {

// A camera keeps this many buffers. The backend always hands out the
// oldest filled one, so with more a run that falls behind the camera
// writes older frames; with one the camera has nowhere to put a frame
// while the run holds the buffer.
constexpr int CAMERA_BUFFERS = 2;

// The fastest rate asked of the library: faster than any camera, and far
// from overflowing the whole number it takes.
constexpr double FASTEST_RATE = 1000;

// What the capture library is asked for once the camera is open, in this
// order: its buffers first, as setting them starts the camera again with
// the rate it last asked for; then the mode, and MJPEG frames as they came
// instead of decoded ones.
std::vector<int> settingsFor(const CameraMode& mode) {
  std::vector<int> settings = {cv::CAP_PROP_BUFFERSIZE, CAMERA_BUFFERS};
  if (mode.format != 0)
    settings.insert(settings.end(),
                    {cv::CAP_PROP_FOURCC, static_cast<int>(mode.format)});
  if (mode.size.width > 0)
    settings.insert(settings.end(),
                    {cv::CAP_PROP_FRAME_WIDTH, mode.size.width,
                     cv::CAP_PROP_FRAME_HEIGHT, mode.size.height});
  // Whole rates only reach the library; the camera takes the offered rate
  // nearest to it.
  if (mode.rate > 0)
    settings.insert(settings.end(),
                    {cv::CAP_PROP_FPS,
                     std::max(1, cvRound(std::min(mode.rate, FASTEST_RATE)))});
  if (mode.format == V4L2_PIX_FMT_MJPEG)
    settings.insert(settings.end(), {cv::CAP_PROP_CONVERT_RGB, 0});
  return settings;
}

// Opens source with api and applies settings, pairs of a property and its
// value. A setting the camera does not take is left as it is: what the
// run needs of it is checked once it is open.
template <typename Source>
bool openWith(Source source, int api, const std::vector<int>& settings,
              cv::VideoCapture& capture) {
  try {
    if (!capture.open(source, api) || !capture.isOpened()) return false;
  } catch (const cv::Exception&) {
    return false;
  }
  for (std::size_t i = 0; i + 1 < settings.size(); i += 2) {
    try {
      capture.set(settings[i], settings[i + 1]);
    } catch (const cv::Exception&) {
    }
  }
  return capture.isOpened();
}

std::string describeError(int error) {
  std::string reason = std::strerror(error);
  if (error == EACCES || error == EPERM)
    reason += " (is the user in the video group?)";
  else if (error == EBUSY)
    reason += " (is another program using it?)";
  return reason;
}

int retryIoctl(int fd, unsigned long request, void* argument) {
  int result;
  do result = ioctl(fd, request, argument);
  while (result == -1 && errno == EINTR);
  return result;
}

// A size as V4L2 gives it; sides beyond an int are held to INT_MAX, which
// nothing can ask for.
FrameSize sizeOf(uint32_t width, uint32_t height) {
  return {static_cast<int>(std::min<uint32_t>(width, INT_MAX)),
          static_cast<int>(std::min<uint32_t>(height, INT_MAX))};
}

bool isSize(FrameSize size, uint32_t width, uint32_t height) {
  FrameSize offered = sizeOf(width, height);
  return size.width == offered.width && size.height == offered.height;
}

bool withinSteps(int side, uint32_t least, uint32_t most, uint32_t step) {
  if (side < 0 || static_cast<uint32_t>(side) < least ||
      static_cast<uint32_t>(side) > most)
    return false;
  return step == 0 || (static_cast<uint32_t>(side) - least) % step == 0;
}

// The size the camera gives when the library asks for its default, in
// MJPEG where it has it: the nearest it offers, for most drivers.
FrameSize defaultSizeOf(int fd) {
  v4l2_format format = {};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<uint32_t>(DEFAULT_CAMERA_SIZE.width);
  format.fmt.pix.height = static_cast<uint32_t>(DEFAULT_CAMERA_SIZE.height);
  format.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
  if (retryIoctl(fd, VIDIOC_TRY_FMT, &format) != 0 ||
      format.fmt.pix.width == 0 || format.fmt.pix.width > INT_MAX ||
      format.fmt.pix.height == 0 || format.fmt.pix.height > INT_MAX)
    return DEFAULT_CAMERA_SIZE;
  return {static_cast<int>(format.fmt.pix.width),
          static_cast<int>(format.fmt.pix.height)};
}

double rateOf(const v4l2_fract& interval) {
  return interval.numerator == 0
             ? 0
             : static_cast<double>(interval.denominator) / interval.numerator;
}

// The rates format offers at size.
FormatOffer ratesAt(int fd, uint32_t format, FrameSize size) {
  FormatOffer offer = {format, {}, false};
  v4l2_frmivalenum interval = {};
  interval.pixel_format = format;
  interval.width = static_cast<uint32_t>(size.width);
  interval.height = static_cast<uint32_t>(size.height);
  for (; retryIoctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0;
       ++interval.index) {
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      if (double rate = rateOf(interval.discrete); rate > 0)
        offer.rates.push_back(rate);
      continue;
    }
    // The longest interval is the slowest rate.
    offer.rates = {rateOf(interval.stepwise.max),
                   rateOf(interval.stepwise.min)};
    offer.anyBetween = true;
    break;
  }
  std::sort(offer.rates.begin(), offer.rates.end());
  return offer;
}

}  // namespace

std::string cameraDevicePath(int index) {
  return "/dev/video" + std::to_string(index);
}

bool openCamera(int index, const CameraMode& mode, cv::VideoCapture& capture) {
  std::vector<int> settings = settingsFor(mode);
  if (openWith(index, cv::CAP_V4L2, settings, capture)) return true;
  // A V4L2 device that is there but does not open is that camera, and the
  // reason is its own; other backends serve cameras V4L2 does not have.
  struct stat device;
  if (stat(cameraDevicePath(index).c_str(), &device) == 0) return false;
  try {
    for (cv::VideoCaptureAPIs api : cv::videoio_registry::getCameraBackends())
      if (api != cv::CAP_V4L2 && openWith(index, api, settings, capture))
        return true;
  } catch (const cv::Exception&) {
  }
  return false;
}

bool openCamera(const char* path, const CameraMode& mode,
                cv::VideoCapture& capture) {
  return openWith(path, cv::CAP_V4L2, settingsFor(mode), capture);
}

std::string cameraFailureReason(const char* path) {
  FileDescriptor device(open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!device.isOpen()) return describeError(errno);
  v4l2_capability capability = {};
  if (retryIoctl(device.get(), VIDIOC_QUERYCAP, &capability) != 0)
    return "not a video capture device";
  uint32_t abilities = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                           ? capability.device_caps
                           : capability.capabilities;
  if ((abilities & V4L2_CAP_VIDEO_CAPTURE) == 0)
    return "not a video capture device";
  // Setting the format it already has fails only when another program
  // holds the camera.
  v4l2_format format = {};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (retryIoctl(device.get(), VIDIOC_G_FMT, &format) == 0 &&
      retryIoctl(device.get(), VIDIOC_S_FMT, &format) != 0 && errno == EBUSY)
    return describeError(EBUSY);
  return "the camera could not be set up";
}

CameraOffer readCameraOffer(const char* path, FrameSize size) {
  CameraOffer offer = {false, size, {}, {}};
  FileDescriptor device(open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!device.isOpen()) return offer;
  if (size.width == 0) offer.size = size = defaultSizeOf(device.get());
  v4l2_fmtdesc format = {};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (; retryIoctl(device.get(), VIDIOC_ENUM_FMT, &format) == 0;
       ++format.index) {
    bool offersSize = false;
    v4l2_frmsizeenum sizes = {};
    sizes.pixel_format = format.pixelformat;
    for (; retryIoctl(device.get(), VIDIOC_ENUM_FRAMESIZES, &sizes) == 0;
         ++sizes.index) {
      std::string described;
      if (sizes.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        offersSize |= isSize(size, sizes.discrete.width, sizes.discrete.height);
        described =
            describeSize(sizeOf(sizes.discrete.width, sizes.discrete.height));
      } else {
        const v4l2_frmsize_stepwise& steps = sizes.stepwise;
        offersSize |= withinSteps(size.width, steps.min_width, steps.max_width,
                                  steps.step_width) &&
                      withinSteps(size.height, steps.min_height,
                                  steps.max_height, steps.step_height);
        described = describeSize(sizeOf(steps.min_width, steps.min_height)) +
                    " to " +
                    describeSize(sizeOf(steps.max_width, steps.max_height));
      }
      offer.known = true;
      if (std::find(offer.sizes.begin(), offer.sizes.end(), described) ==
          offer.sizes.end())
        offer.sizes.push_back(described);
      if (sizes.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
    }
    if (offersSize)
      offer.atSize.push_back(ratesAt(device.get(), format.pixelformat, size));
  }
  return offer;
}
