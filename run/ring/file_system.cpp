#include "run/ring/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/xattr.h>
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

int FileSystem::lstat(const char* path, struct stat* status) {
  return ::lstat(path, status);
}

int FileSystem::fstat(int fd, struct stat* status) {
  return ::fstat(fd, status);
}

int FileSystem::fchown(int fd, uid_t owner, gid_t group) {
  return ::fchown(fd, owner, group);
}

int FileSystem::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }

ssize_t FileSystem::lgetxattr(const char* path, const char* name, void* value,
                              std::size_t size) {
  return ::lgetxattr(path, name, value, size);
}

int FileSystem::fsetxattr(int fd, const char* name, const void* value,
                          std::size_t size, int flags) {
  return ::fsetxattr(fd, name, value, size, flags);
}

FileSystem& systemFileSystem() {
  static FileSystem system;
  return system;
}
