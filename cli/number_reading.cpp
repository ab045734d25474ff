#include "cli/number_reading.h"

#include <cstdlib>

int32_t readInteger(const char* text) {
  // strtoll saturates at 64 bits by itself, so clamping once more is all
  // that is needed to stay inside 32 bits.
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}
