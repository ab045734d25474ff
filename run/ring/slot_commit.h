// Putting a frame's encoded image in place as its slot: whole or not at
// all, with the owner, permissions and ACL of the image it replaces, and
// never in place of the input.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "run/ring/file_system.h"
#include "run/ring/temporary_file.h"
#include "run/ring/write_result.h"

class SlotCommit {
 public:
  // inputPath names the file or device being read, which no slot may
  // replace; it may be empty or name nothing. files must outlive the
  // commit.
  explicit SlotCommit(const std::string& inputPath,
                      FileSystem& files = systemFileSystem(),
                      TemporaryNaming naming = TemporaryNaming::UnnamedFirst);

  // A new hidden file beside the slot name, whose name ends with suffix,
  // for an image writer that writes only into named files. From any
  // thread.
  Result<TemporaryFile> newFileBeside(const char* name,
                                      const std::string& suffix);

  // Writes bytes to a temporary beside the slot name and puts it in place.
  // A failure leaves name as it was and no temporary behind.
  WriteResult placeBytes(const char* name,
                         const std::vector<unsigned char>& bytes);

  // Puts file, which holds the whole image, in place as name; the file is
  // spent either way.
  WriteResult placeFile(const char* name, TemporaryFile& file);

 private:
  // What the slot name holds now, which is to keep its attributes; none
  // for a new slot. Fails where the slot must not be replaced.
  Result<std::optional<struct stat>, WriteResult> lookAt(const char* name);
  WriteResult writeAndCommit(const char* name,
                             const std::vector<unsigned char>& bytes,
                             const struct stat* previous);
  WriteResult commit(TemporaryFile& file, const char* name,
                     const struct stat* previous);

  FileSystem& files_;
  std::optional<struct stat> input_;
  TemporaryNaming naming_;  // the placing thread's
};
