#include "run/ring/output_ring.h"

#include <algorithm>
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

// Lengths are counted rather than formatted: a width of millions would
// take seconds to format only to be refused.
int64_t indexLength(const OutputRing& ring, int32_t index) {
  return std::max(static_cast<int64_t>(std::llabs(ring.paddingWidth)),
                  digitsOf(index));
}

int64_t nameLength(const OutputRing& ring, int32_t index) {
  return static_cast<int64_t>(std::strlen(ring.outputBase)) +
         indexLength(ring, index) + 1 +
         static_cast<int64_t>(std::strlen(ring.extension));
}

// The longest part between slashes of the name.
int64_t longestComponent(const OutputRing& ring, int32_t index) {
  int64_t longest = 0;
  int64_t part = 0;
  auto walk = [&](const char* text) {
    for (; *text != '\0'; ++text) {
      if (*text != '/') {
        ++part;
        continue;
      }
      longest = std::max(longest, part);
      part = 0;
    }
  };
  walk(ring.outputBase);
  part += indexLength(ring, index) + 1;  // the index and the dot
  walk(ring.extension);
  return std::max(longest, part);
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

std::string directoryOf(const char* name) {
  const char* slash = std::strrchr(name, '/');
  if (slash == nullptr) return ".";
  return slash == name ? "/" : std::string(name, slash);
}

int32_t nextIndex(const OutputRing& ring, int32_t index) {
  return index >= ring.lastIndex ? ring.firstIndex : index + 1;
}

std::optional<NameTooLong> nameTooLong(const OutputRing& ring,
                                       int64_t componentLimit) {
  auto check = [&](int32_t index) -> std::optional<NameTooLong> {
    if (nameLength(ring, index) >= static_cast<int64_t>(SLOT_NAME_SIZE))
      return NameTooLong{index, NameLimit::Path};
    if (longestComponent(ring, index) > componentLimit)
      return NameTooLong{index, NameLimit::Component};
    return std::nullopt;
  };
  // With first above last only the first index is ever used.
  if (ring.lastIndex > ring.firstIndex) {
    if (auto last = check(ring.lastIndex)) return last;
  }
  return check(ring.firstIndex);
}
