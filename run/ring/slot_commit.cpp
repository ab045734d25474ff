#include "run/ring/slot_commit.h"

#include <cerrno>
#include <new>

#include "run/ring/output_ring.h"

namespace {

// The errors of linking an unnamed file that say it cannot be done here
// at all, as without /proc.
bool cannotLinkUnnamedFiles(const WriteResult& result) {
  if (result.failure != WriteFailure::System ||
      result.system.step != Step::Link)
    return false;
  int error = result.system.error;
  return error == ENOENT || error == EACCES || error == EPERM ||
         error == EXDEV || error == EOPNOTSUPP;
}

}  // namespace

SlotCommit::SlotCommit(const std::string& inputPath, FileSystem& files,
                       TemporaryNaming naming)
    : files_(files), naming_(naming) {
  struct stat input;
  if (!inputPath.empty() && stat(inputPath.c_str(), &input) == 0)
    input_ = input;
}

Result<TemporaryFile> SlotCommit::newFileBeside(const char* name,
                                                const std::string& suffix) {
  return TemporaryFile::create(files_, directoryOf(name), suffix,
                               TemporaryNaming::Named);
}

Result<std::optional<struct stat>, WriteResult> SlotCommit::lookAt(
    const char* name) {
  // The slot itself is looked at, not what a link in its place points to:
  // a link is replaced like any other name.
  struct stat slot;
  if (files_.lstat(name, &slot) != 0) {
    if (errno == ENOENT) return std::optional<struct stat>();
    return systemWriteFailure({Step::Replace, errno});
  }
  if (input_ && sameFile(slot, *input_))
    return WriteResult{WriteFailure::SlotIsInput, {}};
  if (S_ISDIR(slot.st_mode)) return systemWriteFailure({Step::Replace, EISDIR});
  return std::optional<struct stat>(slot);
}

WriteResult SlotCommit::placeBytes(const char* name,
                                   const std::vector<unsigned char>& bytes) {
  try {
    auto looked = lookAt(name);
    if (!looked.ok()) return looked.failure();
    const struct stat* previous = looked.value() ? &*looked.value() : nullptr;
    WriteResult result = writeAndCommit(name, bytes, previous);
    // An unnamed file cannot always be given a name (no /proc in a chroot
    // or a sandbox): from then on, named ones are used.
    if (cannotLinkUnnamedFiles(result) &&
        naming_ == TemporaryNaming::UnnamedFirst) {
      naming_ = TemporaryNaming::Named;
      result = writeAndCommit(name, bytes, previous);
    }
    return result;
  } catch (const std::bad_alloc&) {
    return {WriteFailure::OutOfMemory, {}};
  }
}

WriteResult SlotCommit::placeFile(const char* name, TemporaryFile& file) {
  try {
    auto looked = lookAt(name);
    if (!looked.ok()) return looked.failure();
    return commit(file, name, looked.value() ? &*looked.value() : nullptr);
  } catch (const std::bad_alloc&) {
    return {WriteFailure::OutOfMemory, {}};
  }
}

WriteResult SlotCommit::writeAndCommit(const char* name,
                                       const std::vector<unsigned char>& bytes,
                                       const struct stat* previous) {
  auto created = TemporaryFile::create(files_, directoryOf(name), "", naming_);
  if (!created.ok()) return systemWriteFailure(created.failure());
  TemporaryFile& file = created.value();
  if (Status<> wrote = file.write(bytes.data(), bytes.size()); !wrote.ok())
    return systemWriteFailure(wrote.failure());
  return commit(file, name, previous);
}

WriteResult SlotCommit::commit(TemporaryFile& file, const char* name,
                               const struct stat* previous) {
  if (previous != nullptr && S_ISREG(previous->st_mode)) {
    if (Status<> kept = file.keepAttributesOf(name, *previous); !kept.ok())
      return systemWriteFailure(kept.failure());
  }
  if (Status<> placed = file.commit(name, previous); !placed.ok())
    return systemWriteFailure(placed.failure());
  return {};
}
