// The name that holds the newest frame written, beside the ring: a link
// to each frame's slot put in its place whole, so that a reader that opens
// it gets the newest whole image, never a partial or missing file.
#pragma once

#include <string>

#include "cli/run_settings.h"
#include "run/ring/file_system.h"
#include "run/ring/result.h"
#include "run/ring/write_result.h"

class LatestName {
 public:
  // Proves that name can hold the newest frame of ring: its directory
  // exists, a link from the slots' directory can be made in it, and it is
  // no slot, no directory and not inputPath, the file or device read.
  // files must outlive it.
  static Result<LatestName, Refusal> prove(
      const char* name, const OutputRing& ring, const std::string& inputPath,
      FileSystem& files = systemFileSystem());

  // The name as messages give it.
  const std::string& name() const { return name_; }

  // Makes the name hold the image now at slot: a link to it made under a
  // hidden name beside the name, then renamed over it. A failure leaves
  // the name as it was and nothing beside it.
  WriteResult update(const char* slot);

 private:
  LatestName(std::string name, FileSystem& files);

  std::string name_;
  std::string directory_;
  FileSystem& files_;
};
