#include "run/source/camera_mode.h"

#include <linux/videodev2.h>

#include <algorithm>

namespace {

// The rate offered nearest at or above rate, or the fastest.
double nearestAtOrAbove(const std::vector<double>& rates, double rate) {
  for (double offered : rates)
    if (offered >= rate) return offered;
  return rates.back();
}

}  // namespace

std::string describeSize(FrameSize size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

CameraMode chooseCameraMode(const CameraOffer& offer, FrameSize size,
                            double rate) {
  CameraMode mode = {0, size, rate, 0, false};
  if (!offer.known || offer.atSize.empty()) return mode;
  std::vector<double> rates;
  bool anyBetween = false;
  // A format that does not say its rates may serve any.
  for (const FormatOffer& format : offer.atSize) {
    rates.insert(rates.end(), format.rates.begin(), format.rates.end());
    anyBetween |= format.anyBetween;
  }
  std::sort(rates.begin(), rates.end());
  // The library picks an uncompressed format where there is one; MJPEG is
  // taken where it serves as well, as its frames can be written as they
  // come.
  for (const FormatOffer& format : offer.atSize) {
    bool servesRate = rate <= 0 || rates.empty() || format.rates.empty() ||
                      format.rates.back() >= std::min(rate, rates.back());
    if (format.format == V4L2_PIX_FMT_MJPEG && servesRate) {
      mode.format = format.format;
      mode.size = offer.size;
      rates = format.rates;
      anyBetween = format.anyBetween;
    }
  }
  mode.ratesKnown = !rates.empty();
  if (rate <= 0 || rates.empty()) return mode;
  if (rate < rates.front()) {
    mode.rate = rates.front();
    mode.keepEvery = 1 / rate;
  } else if (!(anyBetween && rate <= rates.back())) {
    mode.rate = nearestAtOrAbove(rates, rate);
  }
  return mode;
}
