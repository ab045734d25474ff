#include "run/ring/write_result.h"

#include <cerrno>
#include <cstring>

namespace {

const char* describeStep(Step step) {
  switch (step) {
    case Step::CreateTemporary:
      return "creating a temporary file beside it";
    case Step::Write:
      return "writing it";
    case Step::KeepAttributes:
      return "giving it the owner and permissions of the one it replaces";
    case Step::Link:
      return "naming its temporary file";
    case Step::LinkNewest:
      return "linking the newest frame's file beside it";
    case Step::Replace:
      return "replacing it";
    case Step::StartThread:
    case Step::RemoveOld:
      break;
  }
  return "removing what it replaced";
}

// Why a write failed, when no system call says it.
const char* describeFailure(WriteFailure failure) {
  switch (failure) {
    case WriteFailure::None:
      return "written";
    case WriteFailure::SlotIsInput:
      return "it is the video being read";
    case WriteFailure::EncoderRefused:
      return "the image writer refused the frame";
    case WriteFailure::Incomplete:
      return "the image writer left the image incomplete";
    case WriteFailure::OutOfMemory:
      return std::strerror(ENOMEM);
    case WriteFailure::Unexpected:
    case WriteFailure::System:
      break;
  }
  return "an unexpected error";
}

}  // namespace

WriteResult systemWriteFailure(SystemFailure failure) {
  return {WriteFailure::System, failure};
}

std::string describeWriteFailure(const std::string& name,
                                 const WriteResult& result) {
  const SystemFailure& system = result.system;
  if (result.failure != WriteFailure::System)
    return "Could not write " + name + ": " + describeFailure(result.failure);
  if (system.step == Step::Replace && system.error == EEXIST)
    return "Could not write " + name +
           ": something else took its place while it was written";
  if (system.step == Step::RemoveOld)
    return name + " is in place, but a hidden file is left beside it: " +
           std::strerror(system.error);
  return "Could not write " + name + ": " + describeStep(system.step) + ": " +
         std::strerror(system.error);
}
