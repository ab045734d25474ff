#include "cli/run_settings.h"

#include <cstdio>
#include <cstring>

int setDefaultSettings(RunSettings& settings) {
  std::snprintf(settings.outputBase, sizeof settings.outputBase, "f");
  std::snprintf(settings.extension, sizeof settings.extension, "jpg");
  makeNamePattern(3, settings.namePattern);
  settings.firstIndex = 0;
  settings.lastIndex = 10;
  settings.frameRate = 15.0;
  std::snprintf(settings.inputName, sizeof settings.inputName, "video.avi");
  settings.saveImages = true;
  settings.showImages = true;
  settings.verbose = true;
  settings.waitAtEnd = true;
  return 0;
}

void makeNamePattern(int width, char (&pattern)[NAME_PATTERN_SIZE]) {
  std::snprintf(pattern, sizeof pattern, "%%s%%0%dd.%%s", width);
}

int formatOutputName(const RunSettings& settings, int32_t index, char* name,
                     std::size_t size) {
  // The pattern is always one that makeNamePattern built, so it takes
  // exactly a text, an int and a text.
  int length = std::snprintf(name, size, settings.namePattern,
                             settings.outputBase, index, settings.extension);
  if (length < 0 || static_cast<std::size_t>(length) >= size) return -1;
  return length;
}
