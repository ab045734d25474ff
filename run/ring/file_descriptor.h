// An open file descriptor with one owner, which closes it.
#pragma once

class FileDescriptor {
 public:
  // Takes fd, which may be -1 for none.
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
  }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int get() const { return fd_; }

  // Closes it now. Returns 0 or the errno of a failed close, which for a
  // file can be a write that failed late (a full disk, over NFS).
  int close();

 private:
  int fd_;
};
