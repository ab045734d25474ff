#include "run/source/camera_mode.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

namespace {

constexpr FrameSize NONE = {0, 0};
constexpr FrameSize HD = {1280, 720};

CameraOffer offering(std::vector<FormatOffer> atSize) {
  return {true, HD, {"640x480", "1280x720"}, std::move(atSize)};
}

TEST(CameraMode, MjpegWhereItServesTheSizeAndRate) {
  CameraOffer both = offering({{V4L2_PIX_FMT_YUYV, {5, 10}, false},
                               {V4L2_PIX_FMT_MJPEG, {5, 15, 30}, false}});
  CameraMode mode = chooseCameraMode(both, HD, 0);
  EXPECT_EQ(mode.format, V4L2_PIX_FMT_MJPEG);
  EXPECT_EQ(mode.size.width, 1280);
  EXPECT_EQ(mode.rate, 0);  // the camera's own
  // With no size asked for, the size the camera gives for the library's
  // default, which is asked for in MJPEG.
  mode = chooseCameraMode(both, NONE, 0);
  EXPECT_EQ(mode.format, V4L2_PIX_FMT_MJPEG);
  EXPECT_EQ(mode.size.width, 1280);

  // MJPEG too slow for the rate: the library's choice, at the rate
  // another format offers.
  CameraOffer slowJpeg = offering({{V4L2_PIX_FMT_MJPEG, {5, 15}, false},
                                   {V4L2_PIX_FMT_YUYV, {5, 30}, false}});
  mode = chooseCameraMode(slowJpeg, HD, 25);
  EXPECT_EQ(mode.format, 0u);
  EXPECT_EQ(mode.rate, 30);
  // Above every rate offered, MJPEG serves if it is as fast as any.
  CameraOffer fastJpeg = offering({{V4L2_PIX_FMT_YUYV, {5, 10}, false},
                                   {V4L2_PIX_FMT_MJPEG, {5, 30}, false}});
  mode = chooseCameraMode(fastJpeg, HD, 60);
  EXPECT_EQ(mode.format, V4L2_PIX_FMT_MJPEG);
  EXPECT_EQ(mode.rate, 30);
}

TEST(CameraMode, NearestRateAtOrAboveAndBelowTheSlowestOneKept) {
  CameraOffer offer = offering({{V4L2_PIX_FMT_MJPEG, {5, 15, 30}, false}});
  struct Case {
    double asked, rate, keepEvery;
  } cases[] = {{10, 15, 0}, {15, 15, 0}, {29.97, 30, 0},
               {60, 30, 0}, {5, 5, 0},   {0.2, 5, 5}};
  for (const Case& c : cases) {
    CameraMode mode = chooseCameraMode(offer, HD, c.asked);
    EXPECT_EQ(mode.rate, c.rate) << c.asked;
    EXPECT_DOUBLE_EQ(mode.keepEvery, c.keepEvery) << c.asked;
  }
  // A camera that takes any rate in a range is asked for the rate itself.
  CameraOffer range = offering({{V4L2_PIX_FMT_MJPEG, {1, 30}, true}});
  EXPECT_EQ(chooseCameraMode(range, HD, 7.5).rate, 7.5);
  EXPECT_EQ(chooseCameraMode(range, HD, 0.5).keepEvery, 2);
}

TEST(CameraMode, RatesNotSaidAreLeftToTheCamera) {
  // MJPEG may serve any rate; the rate asked for is asked as it is, and
  // which frames to keep is known only once the camera is open.
  CameraOffer quiet = offering(
      {{V4L2_PIX_FMT_YUYV, {}, false}, {V4L2_PIX_FMT_MJPEG, {}, false}});
  CameraMode mode = chooseCameraMode(quiet, HD, 0.5);
  EXPECT_EQ(mode.format, V4L2_PIX_FMT_MJPEG);
  EXPECT_EQ(mode.rate, 0.5);
  EXPECT_EQ(mode.keepEvery, 0);
  EXPECT_FALSE(mode.ratesKnown);
  EXPECT_TRUE(
      chooseCameraMode(offering({{V4L2_PIX_FMT_MJPEG, {5}, false}}), HD, 0.5)
          .ratesKnown);
}

}  // namespace
