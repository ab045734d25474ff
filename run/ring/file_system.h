// The system calls that write a slot and put it in place, behind one
// interface so that tests can make any of them fail as the system would.
#pragma once

#include <sys/stat.h>
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
  virtual int lstat(const char* path, struct stat* status);
  virtual int fstat(int fd, struct stat* status);
  virtual int fchown(int fd, uid_t owner, gid_t group);
  virtual int fchmod(int fd, mode_t mode);
  virtual ssize_t lgetxattr(const char* path, const char* name, void* value,
                            std::size_t size);
  virtual int fsetxattr(int fd, const char* name, const void* value,
                        std::size_t size, int flags);
};

// The system's own calls.
FileSystem& systemFileSystem();
