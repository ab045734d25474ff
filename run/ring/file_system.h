// The system calls that write a slot and put it in place, behind one
// interface so that tests can make any of them fail as the system would.
#pragma once

#include <sys/types.h>

#include <cstddef>

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Each does what its system call does, returning -1 with errno set when
  // it fails.
  virtual int open(const char* path, int flags, mode_t mode);
  virtual ssize_t write(int fd, const void* data, std::size_t size);
  // linkat(2) from and to names relative to the working directory.
  virtual int link(const char* from, const char* to, int flags);
  // renameat2(2) likewise; flags 0 is a plain rename.
  virtual int rename(const char* from, const char* to, unsigned flags);
  virtual int unlink(const char* path);
};

// The system's own calls.
FileSystem& systemFileSystem();
