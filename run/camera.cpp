#include "run/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <opencv2/videoio/registry.hpp>

#include "cli/capture_source.h"
#include "run/file_descriptor.h"

namespace {

// A camera keeps this many buffers. The backend always hands out the
// oldest filled one, so with more a run that falls behind the camera
// writes older frames; with one the camera has nowhere to put a frame
// while the run holds the buffer.
constexpr int CAMERA_BUFFERS = 2;

template <typename Source>
bool openWith(Source source, int api, cv::VideoCapture& capture) {
  try {
    if (!capture.open(source, api)) return false;
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

}  // namespace

std::string cameraDevicePath(int index) {
  return "/dev/video" + std::to_string(index);
}

bool openCamera(int index, cv::VideoCapture& capture) {
  if (openWith(index, cv::CAP_V4L2, capture)) return true;
  // A V4L2 device that is there but does not open is that camera, and the
  // reason is its own; other backends serve cameras V4L2 does not have.
  if (isCameraDevice(cameraDevicePath(index).c_str())) return false;
  try {
    for (cv::VideoCaptureAPIs api : cv::videoio_registry::getCameraBackends())
      if (api != cv::CAP_V4L2 && openWith(index, api, capture)) return true;
  } catch (const cv::Exception&) {
  }
  return false;
}

bool openCamera(const char* path, cv::VideoCapture& capture) {
  return openWith(path, cv::CAP_V4L2, capture);
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
