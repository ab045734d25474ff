#include "run/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/videoio/registry.hpp>
#include <vector>

#include "cli/capture_source.h"
#include "run/file_descriptor.h"

namespace {

// A camera keeps this many buffers. The backend always hands out the
// oldest filled one, so with more a run that falls behind the camera
// writes older frames; with one the camera has nowhere to put a frame
// while the run holds the buffer.
constexpr int CAMERA_BUFFERS = 2;

// What the capture library is asked for at open: the mode, and the
// camera's MJPEG frames as they came instead of decoded ones.
std::vector<int> openParameters(const CameraMode& mode) {
  std::vector<int> parameters;
  if (mode.format != 0)
    parameters.insert(parameters.end(),
                      {cv::CAP_PROP_FOURCC, static_cast<int>(mode.format)});
  if (mode.size.width > 0)
    parameters.insert(parameters.end(),
                      {cv::CAP_PROP_FRAME_WIDTH, mode.size.width,
                       cv::CAP_PROP_FRAME_HEIGHT, mode.size.height});
  // Whole rates only reach the library; the camera takes the offered rate
  // nearest to it.
  if (mode.rate > 0)
    parameters.insert(parameters.end(),
                      {cv::CAP_PROP_FPS, std::max(1, cvRound(mode.rate))});
  if (mode.format == V4L2_PIX_FMT_MJPEG)
    parameters.insert(parameters.end(), {cv::CAP_PROP_CONVERT_RGB, 0});
  return parameters;
}

template <typename Source>
bool openWith(Source source, int api, const std::vector<int>& parameters,
              cv::VideoCapture& capture) {
  try {
    if (!capture.open(source, api, parameters)) return false;
    if (api == cv::CAP_V4L2)
      capture.set(cv::CAP_PROP_BUFFERSIZE, CAMERA_BUFFERS);
    return capture.isOpened();
  } catch (const cv::Exception&) {
    return false;
  }
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

bool isSize(FrameSize size, uint32_t width, uint32_t height) {
  return size.width >= 0 && size.height >= 0 &&
         static_cast<uint32_t>(size.width) == width &&
         static_cast<uint32_t>(size.height) == height;
}

bool withinSteps(int side, uint32_t least, uint32_t most, uint32_t step) {
  if (side < 0 || static_cast<uint32_t>(side) < least ||
      static_cast<uint32_t>(side) > most)
    return false;
  return step == 0 || (static_cast<uint32_t>(side) - least) % step == 0;
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
  std::vector<int> parameters = openParameters(mode);
  if (openWith(index, cv::CAP_V4L2, parameters, capture)) return true;
  // A V4L2 device that is there but does not open is that camera, and the
  // reason is its own; other backends serve cameras V4L2 does not have.
  if (isCameraDevice(cameraDevicePath(index).c_str())) return false;
  try {
    for (cv::VideoCaptureAPIs api : cv::videoio_registry::getCameraBackends())
      if (api != cv::CAP_V4L2 && openWith(index, api, parameters, capture))
        return true;
  } catch (const cv::Exception&) {
  }
  return false;
}

bool openCamera(const char* path, const CameraMode& mode,
                cv::VideoCapture& capture) {
  return openWith(path, cv::CAP_V4L2, openParameters(mode), capture);
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
  if (size.width == 0) size = DEFAULT_CAMERA_SIZE;
  CameraOffer offer = {false, {}, {}};
  FileDescriptor device(open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!device.isOpen()) return offer;
  v4l2_fmtdesc format = {};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (; retryIoctl(device.get(), VIDIOC_ENUM_FMT, &format) == 0;
       ++format.index) {
    offer.known = true;
    bool offersSize = false;
    v4l2_frmsizeenum sizes = {};
    sizes.pixel_format = format.pixelformat;
    for (; retryIoctl(device.get(), VIDIOC_ENUM_FRAMESIZES, &sizes) == 0;
         ++sizes.index) {
      std::string described;
      if (sizes.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        offersSize |= isSize(size, sizes.discrete.width, sizes.discrete.height);
        described = std::to_string(sizes.discrete.width) + "x" +
                    std::to_string(sizes.discrete.height);
      } else {
        const v4l2_frmsize_stepwise& steps = sizes.stepwise;
        offersSize |= withinSteps(size.width, steps.min_width, steps.max_width,
                                  steps.step_width) &&
                      withinSteps(size.height, steps.min_height,
                                  steps.max_height, steps.step_height);
        described = std::to_string(steps.min_width) + "x" +
                    std::to_string(steps.min_height) + " to " +
                    std::to_string(steps.max_width) + "x" +
                    std::to_string(steps.max_height);
      }
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
