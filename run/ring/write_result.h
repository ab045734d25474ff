// What writing a frame into its slot came to, and the line that says why
// it failed.
#pragma once

#include <string>

#include "run/ring/result.h"

enum class WriteFailure {
  None,
  SlotIsInput,     // the slot is the file or device being read
  EncoderRefused,  // the image writer refused the frame
  Incomplete,      // the image writer left its file incomplete
  OutOfMemory,
  Unexpected,  // an exception that nothing here throws
  System,      // a system call failed: system says which and why
};

struct WriteResult {
  WriteFailure failure = WriteFailure::None;
  SystemFailure system = {};  // for System

  bool written() const { return failure == WriteFailure::None; }
  // Whether the slot holds the new image: written, or in place with what
  // it replaced left beside it.
  bool placed() const {
    return written() ||
           (failure == WriteFailure::System && system.step == Step::RemoveOld);
  }
};

WriteResult systemWriteFailure(SystemFailure failure);

// The line that reports a failed write of the slot name, without its
// newline: "Could not write f003.jpg: replacing it: Device or resource
// busy". name is shown as given.
std::string describeWriteFailure(const std::string& name,
                                 const WriteResult& result);
