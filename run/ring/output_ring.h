// The ring of output files: each slot's name from a base, an index and an
// extension, and the index's cycle from the first index to the last.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

constexpr std::size_t OUTPUT_BASE_SIZE = 256;
constexpr std::size_t EXTENSION_SIZE = 250;
// A slot's name, like any path, fits PATH_MAX with its terminating zero.
constexpr std::size_t SLOT_NAME_SIZE = PATH_MAX;

struct OutputRing {
  char outputBase[OUTPUT_BASE_SIZE];  // may hold a directory part
  char extension[EXTENSION_SIZE];     // without the dot
  // The least number of characters of the index, zero-filled on the left;
  // a negative width fills with blanks on the right instead.
  int32_t paddingWidth;
  int32_t firstIndex;
  int32_t lastIndex;  // after it comes firstIndex again
};

// Base "f", extension "jpg", width 3, indices 0 to 10.
void setDefaultRing(OutputRing& ring);

// Writes the name of the slot for index into name: base, index padded to
// the width, ".", extension. Returns false, writing nothing, when the name
// would not fit.
bool formSlotName(const OutputRing& ring, int32_t index,
                  char (&name)[SLOT_NAME_SIZE]);

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
