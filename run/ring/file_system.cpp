#include "run/ring/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int FileSystem::open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

ssize_t FileSystem::write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int FileSystem::link(const char* from, const char* to, int flags) {
  return linkat(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int FileSystem::rename(const char* from, const char* to, unsigned flags) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int FileSystem::unlink(const char* path) { return ::unlink(path); }

FileSystem& systemFileSystem() {
  static FileSystem system;
  return system;
}
