#include "run/ring/latest_name.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "cli/printable.h"
#include "run/ring/output_ring.h"
#include "run/ring/temporary_file.h"

namespace {

// The last part of a name.
std::string lastPartOf(const std::string& name) {
  std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool sameDirectory(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         sameFile(first, second);
}

// Links a new file in from beside to, under a hidden name, and removes
// both again: the proof that to's directory takes a link from from's.
// Returns 0 or errno.
int proveLink(FileSystem& files, const std::string& from,
              const std::string& to) {
  auto made = TemporaryFile::create(files, from, "", TemporaryNaming::Named);
  if (!made.ok()) return made.failure().error;
  std::string link;
  for (int attempt = 0; attempt < HIDDEN_NAME_ATTEMPTS; ++attempt) {
    if (int error = randomHiddenName(to, "", link)) return error;
    if (files.link(made.value().path().c_str(), link.c_str(), 0) == 0) {
      files.unlink(link.c_str());
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

}  // namespace

Result<LatestName, Refusal> LatestName::prove(const char* name,
                                              const OutputRing& ring,
                                              const std::string& inputPath,
                                              FileSystem& files) {
  std::string refused =
      "Cannot keep the newest frame as " + printable(name) + ": ";
  std::string directory = directoryOf(name);
  std::string slots = directoryOf(ring.outputBase);
  // A name in the slots' directory, however it is written there, as the
  // slots write it.
  std::string base = ring.outputBase;
  std::string asSlot =
      base.substr(0, base.size() - lastPartOf(base).size()) + lastPartOf(name);
  if (sameDirectory(directory, slots) && isSlotName(ring, asSlot))
    return Refusal{refused + "it is one of the slots"};
  struct stat status;
  if (files.lstat(name, &status) == 0) {
    struct stat input;
    if (S_ISDIR(status.st_mode)) return Refusal{refused + "it is a directory"};
    if (!inputPath.empty() && stat(inputPath.c_str(), &input) == 0 &&
        sameFile(status, input))
      return Refusal{refused + "it is the video being read"};
  }
  for (const auto& [place, what] : {std::pair(directory, "its directory"),
                                    std::pair(slots, "the slots' directory")}) {
    struct stat found;
    int error = stat(place.c_str(), &found) != 0 ? errno
                : S_ISDIR(found.st_mode)         ? 0
                                                 : ENOTDIR;
    if (error != 0)
      return Refusal{refused + what + ": " + std::strerror(error)};
  }
  if (int error = proveLink(files, slots, directory))
    return Refusal{refused + (error == EXDEV
                                  ? "it is not on the slots' file system"
                                  : std::strerror(error))};
  return LatestName(name, files);
}

LatestName::LatestName(std::string name, FileSystem& files)
    : name_(std::move(name)),
      directory_(directoryOf(name_.c_str())),
      files_(files) {}

WriteResult LatestName::update(const char* slot) {
  // A rename between two names of one file does nothing, and would leave
  // the hidden one behind.
  struct stat held, newest;
  if (files_.lstat(name_.c_str(), &held) == 0 &&
      files_.lstat(slot, &newest) == 0 && sameFile(held, newest))
    return {};
  std::string link;
  for (int attempt = 0;; ++attempt) {
    int error = attempt < HIDDEN_NAME_ATTEMPTS
                    ? randomHiddenName(directory_, "", link)
                    : EEXIST;
    if (error != 0) return systemWriteFailure({Step::LinkNewest, error});
    if (files_.link(slot, link.c_str(), 0) == 0) break;
    if (errno != EEXIST) return systemWriteFailure({Step::LinkNewest, errno});
  }
  if (files_.rename(link.c_str(), name_.c_str(), 0) != 0) {
    int error = errno;
    files_.unlink(link.c_str());
    return systemWriteFailure({Step::Replace, error});
  }
  return {};
}
