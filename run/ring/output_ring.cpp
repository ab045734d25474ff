#include "run/ring/output_ring.h"

#include <unistd.h>

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

bool isSlotName(const OutputRing& ring, const std::string& name) {
  std::string base = ring.outputBase;
  std::string tail = std::string(".") + ring.extension;
  if (name.size() <= base.size() + tail.size() || name.rfind(base, 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  // The index as the slot names write it, and no other way.
  std::string index =
      name.substr(base.size(), name.size() - base.size() - tail.size());
  char* end = nullptr;
  long long value = std::strtoll(index.c_str(), &end, 10);
  if (end == index.c_str() || value < INT32_MIN || value > INT32_MAX)
    return false;
  int32_t number = static_cast<int32_t>(value);
  bool inRange = ring.lastIndex > ring.firstIndex
                     ? number >= ring.firstIndex && number <= ring.lastIndex
                     : number == ring.firstIndex;
  char written[SLOT_NAME_SIZE];
  std::snprintf(written, sizeof written, "%0*d",
                static_cast<int>(ring.paddingWidth), number);
  return inRange && index == written;
}

Result<SlotCycle, Refusal> SlotCycle::start(const OutputRing& ring) {
  // Where the directory cannot be asked (it does not exist yet), the
  // usual limit.
  long partLimit = pathconf(directoryOf(ring.outputBase).c_str(), _PC_NAME_MAX);
  if (partLimit <= 0) partLimit = NAME_MAX;
  std::optional<NameTooLong> tooLong = nameTooLong(ring, partLimit);
  if (!tooLong) return SlotCycle(ring);
  char text[128];
  if (tooLong->limit == NameLimit::Path)
    std::snprintf(text, sizeof text,
                  "Output file name for index %d would be longer than %zu "
                  "characters.",
                  tooLong->index, SLOT_NAME_SIZE - 1);
  else
    std::snprintf(text, sizeof text,
                  "Output file name for index %d would have a part longer "
                  "than %ld characters.",
                  tooLong->index, partLimit);
  return Refusal{text};
}

SlotCycle::SlotCycle(const OutputRing& ring)
    : ring_(ring), index_(ring.firstIndex) {
  formName();
}

void SlotCycle::advance() {
  index_ = nextIndex(ring_, index_);
  formName();
}

void SlotCycle::formName() {
  // Every name in the range fits, as start proved. A negative width passed
  // to * is the minus flag with its magnitude, which overrides the zero
  // flag: left-justified, filled with blanks.
  std::snprintf(name_, sizeof name_, "%s%0*d.%s", ring_.outputBase,
                static_cast<int>(ring_.paddingWidth), index_, ring_.extension);
}
