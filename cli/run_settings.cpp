#include "cli/run_settings.h"

#include <cstdio>

void setDefaultRing(OutputRing& ring) {
  std::snprintf(ring.outputBase, sizeof ring.outputBase, "f");
  std::snprintf(ring.extension, sizeof ring.extension, "jpg");
  ring.paddingWidth = 3;
  ring.firstIndex = 0;
  ring.lastIndex = 10;
}

void setDefaultSettings(RunSettings& settings) {
  settings.source = {SourceKind::CameraIndex, 0, {}};
  setDefaultRing(settings.ring);
  settings.frameRate = 0;
  settings.frameSize = {0, 0};
  settings.latestName[0] = '\0';
  settings.saveImages = true;
  settings.showImages = true;
  settings.verbose = true;
}
