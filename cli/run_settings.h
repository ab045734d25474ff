// The settings record of one run, its defaults and the output-name rule.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t OUTPUT_BASE_SIZE = 256;
constexpr std::size_t EXTENSION_SIZE = 250;
// The longest pattern is "%s%0-2147483648d.%s": 19 characters and the zero.
constexpr std::size_t NAME_PATTERN_SIZE = 20;
constexpr std::size_t INPUT_NAME_SIZE = 512;

struct RunSettings {
  char outputBase[OUTPUT_BASE_SIZE];
  char extension[EXTENSION_SIZE];
  char namePattern[NAME_PATTERN_SIZE];
  int32_t firstIndex;
  int32_t lastIndex;
  double frameRate;  // frames per second; recorded, not applied
  char inputName[INPUT_NAME_SIZE];
  bool saveImages;
  bool showImages;
  bool verbose;
  bool waitAtEnd;
};

// Fills every field with its default. Returns 0.
int setDefaultSettings(RunSettings& settings);

// Writes the printf pattern for a zero-padding width into pattern:
// "%s%0", the width in decimal, "d.%s".
void makeNamePattern(int width, char (&pattern)[NAME_PATTERN_SIZE]);

// Forms the output name for index into name (size bytes). Returns the
// name's length, or -1 when it does not fit or cannot be formed.
int formatOutputName(const RunSettings& settings, int32_t index, char* name,
                     std::size_t size);
