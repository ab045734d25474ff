#include "run/temporary_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

constexpr int NAME_ATTEMPTS = 100;
constexpr char ACCESS_ACL[] = "system.posix_acl_access";

// A hidden name in directory that nobody can guess: ".pellux-" and twelve
// random characters, then suffix. Returns 0 or errno.
int randomHiddenName(const std::string& directory, const std::string& suffix,
                     std::string& name) {
  static const char ALPHABET[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  unsigned char bytes[12];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    return errno;
  name = directory + "/.pellux-";
  for (unsigned char byte : bytes) name += ALPHABET[byte % 64];
  name += suffix;
  return 0;
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& directory,
                             const std::string& suffix, TemporaryNaming naming)
    : directory_(directory), suffix_(suffix) {
  if (naming == TemporaryNaming::UnnamedFirst) {
    fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
  }
  std::string name;
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    error_ = randomHiddenName(directory_, suffix_, name);
    if (error_ != 0) return;
    fd_ = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      path_ = name;
      ownsPath_ = true;
      return;
    }
    error_ = errno;
    if (error_ != EEXIST) return;
  }
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (ownsPath_) unlink(path_.c_str());
}

int TemporaryFile::write(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(fd_, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int TemporaryFile::copyAttributesOf(const char* previous,
                                    const struct stat& status) {
  struct stat own;
  if (fstat(fd_, &own) != 0) return errno;
  // Only a privileged process may give a file away, and only to a group it
  // belongs to may an owner move it; what cannot be kept is left as a
  // plain create makes it.
  auto allowed = [](int error) { return error != EPERM && error != EINVAL; };
  if ((own.st_uid != status.st_uid || own.st_gid != status.st_gid) &&
      fchown(fd_, status.st_uid, status.st_gid) != 0) {
    if (allowed(errno)) return errno;
    if (own.st_gid != status.st_gid &&
        fchown(fd_, static_cast<uid_t>(-1), status.st_gid) != 0 &&
        allowed(errno))
      return errno;
  }
  if (fchmod(fd_, status.st_mode & 07777) != 0) return errno;
  ssize_t size = lgetxattr(previous, ACCESS_ACL, nullptr, 0);
  if (size < 0) return errno == ENODATA || errno == ENOTSUP ? 0 : errno;
  std::vector<char> acl(static_cast<std::size_t>(size));
  size = lgetxattr(previous, ACCESS_ACL, acl.data(), acl.size());
  if (size < 0) return errno;
  if (fsetxattr(fd_, ACCESS_ACL, acl.data(), static_cast<std::size_t>(size),
                0) != 0)
    return errno;
  return 0;
}

int TemporaryFile::close() {
  int result = path_.empty() ? linkToHiddenName() : 0;
  if (::close(fd_) != 0 && result == 0) result = errno;
  fd_ = -1;
  return result;
}

int TemporaryFile::linkToHiddenName() {
  // An unnamed file is reached by name only through its descriptor's link
  // in /proc, which a chroot or a sandbox may lack.
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd_);
  std::string name;
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    int error = randomHiddenName(directory_, suffix_, name);
    if (error != 0) return error;
    if (linkat(AT_FDCWD, link, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
        0) {
      path_ = name;
      ownsPath_ = true;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

TemporaryFile::Placement TemporaryFile::putInPlace(const char* name,
                                                   const struct stat* previous,
                                                   int& error) {
  // A file already there is swapped out and then removed rather than
  // renamed over: the name holds one whole image throughout either way,
  // and ext4 flushes the new file to disk before renaming it over another,
  // which costs more than writing it.
  if (previous != nullptr && renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, name,
                                       RENAME_EXCHANGE) == 0) {
    struct stat swapped;
    if (lstat(path_.c_str(), &swapped) == 0 &&
        swapped.st_dev == previous->st_dev &&
        swapped.st_ino == previous->st_ino)
      return Placement::Placed;
    // Something else took the slot's place after it was looked at: it goes
    // back, and is never ours to remove.
    if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, name, RENAME_EXCHANGE) !=
        0)
      ownsPath_ = false;
    return Placement::SlotChanged;
  }
  if (rename(path_.c_str(), name) != 0) {
    error = errno;
    return Placement::Failed;
  }
  ownsPath_ = false;
  return Placement::Placed;
}
