#include "run/ring/file_descriptor.h"

#include <unistd.h>

#include <cerrno>

FileDescriptor::~FileDescriptor() { close(); }

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int FileDescriptor::close() {
  if (fd_ < 0) return 0;
  // Linux releases the descriptor even when close fails, EINTR included,
  // so it is never closed twice.
  int result = ::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  return result;
}
