// The ring's slots: each one's name, the order frames go to them, and the
// check at start that every name in the index range can be used.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/run_settings.h"
#include "run/ring/result.h"

// A slot's name, like any path, fits PATH_MAX with its terminating zero.
constexpr std::size_t SLOT_NAME_SIZE = PATH_MAX;

// The directory part of a name, or "." when it has none.
std::string directoryOf(const char* name);

// The index that follows index: firstIndex after lastIndex, and always
// firstIndex when it is above lastIndex. Never leaves the 32-bit range.
int32_t nextIndex(const OutputRing& ring, int32_t index);

enum class NameLimit {
  Path,       // the whole name: SLOT_NAME_SIZE - 1 characters
  Component,  // a part between slashes: what the file system allows
};

struct NameTooLong {
  int32_t index;
  NameLimit limit;
};

// The index at an end of the range whose slot name would be too long, as a
// path or in a part of at most componentLimit characters, if any. Names
// grow with the size of their index, so when both ends fit, every index
// between them does.
std::optional<NameTooLong> nameTooLong(const OutputRing& ring,
                                       int64_t componentLimit);

// Whether name, in the slots' directory, is the name of a slot of the
// ring's index range.
bool isSlotName(const OutputRing& ring, const std::string& name);

// The slots in the order frames go to them, from the first index on.
class SlotCycle {
 public:
  // The cycle of ring, once every name in its range is known to fit the
  // slots' file system; or why not. ring must outlive the cycle.
  static Result<SlotCycle, Refusal> start(const OutputRing& ring);

  // The name of the slot the next frame goes to.
  const char* name() const { return name_; }

  // Moves on to the slot after it.
  void advance();

 private:
  explicit SlotCycle(const OutputRing& ring);
  void formName();

  const OutputRing& ring_;
  int32_t index_;
  char name_[SLOT_NAME_SIZE];
};
