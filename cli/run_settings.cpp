#include "cli/run_settings.h"

void setDefaultSettings(RunSettings& settings) {
  settings.source = {SourceKind::CameraIndex, 0, nullptr};
  setDefaultRing(settings.ring);
  settings.frameRate = 0;
  settings.frameSize = {0, 0};
  settings.saveImages = true;
  settings.showImages = true;
  settings.verbose = true;
}
