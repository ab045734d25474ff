// Calls on an OpenCV capture, with the exceptions they can throw caught: a
// source that fails while it is read has stopped giving frames.
#pragma once

#include <cstdint>
#include <opencv2/videoio.hpp>

bool readFrame(cv::VideoCapture& capture, cv::Mat& frame);
bool grabFrame(cv::VideoCapture& capture);
bool retrieveFrame(cv::VideoCapture& capture, cv::Mat& frame);

// The value of property, or 0 where the capture does not say.
double propertyOf(const cv::VideoCapture& capture, int property);

// The size of the decoded frames capture gives, or 0 when it does not say.
int64_t frameBytesOf(const cv::VideoCapture& capture);

// Closes capture.
void releaseCapture(cv::VideoCapture& capture);
