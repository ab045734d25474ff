#include "run/source/video_capture.h"

#include <climits>
#include <cmath>

bool readFrame(cv::VideoCapture& capture, cv::Mat& frame) {
  try {
    return capture.read(frame) && !frame.empty();
  } catch (const cv::Exception&) {
    return false;
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

double propertyOf(const cv::VideoCapture& capture, int property) {
  try {
    double value = capture.get(property);
    return std::isfinite(value) ? value : 0;
  } catch (const cv::Exception&) {
    return 0;
  }
}

int64_t frameBytesOf(const cv::VideoCapture& capture) {
  double width = propertyOf(capture, cv::CAP_PROP_FRAME_WIDTH);
  double height = propertyOf(capture, cv::CAP_PROP_FRAME_HEIGHT);
  if (!(width >= 1 && width <= INT_MAX && height >= 1 && height <= INT_MAX))
    return 0;
  return static_cast<int64_t>(width) * static_cast<int64_t>(height) * 3;
}

void releaseCapture(cv::VideoCapture& capture) {
  try {
    capture.release();
  } catch (const cv::Exception&) {
  }
}
