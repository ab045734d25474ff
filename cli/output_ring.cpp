#include "cli/output_ring.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Characters of index in decimal, its sign included.
int64_t digitsOf(int32_t index) {
  int64_t digits = index < 0 ? 2 : 1;
  for (int64_t rest = std::llabs(index); rest >= 10; rest /= 10) ++digits;
  return digits;
}

// The name's length, counted rather than formatted: a width of millions
// would take seconds to format only to be refused.
int64_t nameLength(const OutputRing& ring, int32_t index) {
  int64_t width = std::llabs(ring.paddingWidth);
  int64_t digits = digitsOf(index);
  return static_cast<int64_t>(std::strlen(ring.outputBase)) +
         (width > digits ? width : digits) + 1 +
         static_cast<int64_t>(std::strlen(ring.extension));
}

}  // namespace

void setDefaultRing(OutputRing& ring) {
  std::snprintf(ring.outputBase, sizeof ring.outputBase, "f");
  std::snprintf(ring.extension, sizeof ring.extension, "jpg");
  ring.paddingWidth = 3;
  ring.firstIndex = 0;
  ring.lastIndex = 10;
}

bool formSlotName(const OutputRing& ring, int32_t index,
                  char (&name)[SLOT_NAME_SIZE]) {
  if (nameLength(ring, index) >= static_cast<int64_t>(SLOT_NAME_SIZE))
    return false;
  // A negative width passed to * is the minus flag with its magnitude,
  // which overrides the zero flag: left-justified, filled with blanks.
  std::snprintf(name, sizeof name, "%s%0*d.%s", ring.outputBase,
                static_cast<int>(ring.paddingWidth), index, ring.extension);
  return true;
}

int32_t nextIndex(const OutputRing& ring, int32_t index) {
  return index >= ring.lastIndex ? ring.firstIndex : index + 1;
}

std::optional<int32_t> indexWithNameTooLong(const OutputRing& ring) {
  auto tooLong = [&](int32_t index) {
    return nameLength(ring, index) >= static_cast<int64_t>(SLOT_NAME_SIZE);
  };
  // With first above last only the first index is ever used.
  if (ring.lastIndex > ring.firstIndex && tooLong(ring.lastIndex))
    return ring.lastIndex;
  if (tooLong(ring.firstIndex)) return ring.firstIndex;
  return std::nullopt;
}
