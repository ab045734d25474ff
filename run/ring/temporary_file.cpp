#include "run/ring/temporary_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr char ACCESS_ACL[] = "system.posix_acl_access";

SystemFailure failed(Step step, int error = errno) { return {step, error}; }

// Only a privileged process may give a file away, and only to a group it
// belongs to may an owner move it: these errors leave the file as a plain
// create makes it, rather than failing the write.
bool mayStayAsCreated(int error) { return error == EPERM || error == EINVAL; }

}  // namespace

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

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

Result<TemporaryFile> TemporaryFile::create(FileSystem& files,
                                            const std::string& directory,
                                            const std::string& suffix,
                                            TemporaryNaming naming) {
  if (naming == TemporaryNaming::UnnamedFirst) {
    FileDescriptor fd(
        files.open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    // Where the filesystem has no unnamed files, a named one serves.
    if (fd.isOpen())
      return TemporaryFile(files, directory, suffix, std::move(fd), "");
  }
  std::string name;
  for (int attempt = 0; attempt < HIDDEN_NAME_ATTEMPTS; ++attempt) {
    if (int error = randomHiddenName(directory, suffix, name))
      return failed(Step::CreateTemporary, error);
    FileDescriptor fd(files.open(
        name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
    if (fd.isOpen())
      return TemporaryFile(files, directory, suffix, std::move(fd), name);
    if (errno != EEXIST) return failed(Step::CreateTemporary);
  }
  return failed(Step::CreateTemporary, EEXIST);
}

TemporaryFile::TemporaryFile(FileSystem& files, std::string directory,
                             std::string suffix, FileDescriptor fd,
                             std::string path)
    : files_(files),
      directory_(std::move(directory)),
      suffix_(std::move(suffix)),
      fd_(std::move(fd)),
      path_(std::move(path)) {}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : files_(other.files_),
      directory_(std::move(other.directory_)),
      suffix_(std::move(other.suffix_)),
      fd_(std::move(other.fd_)),
      path_(std::move(other.path_)) {
  other.path_.clear();
}

TemporaryFile::~TemporaryFile() {
  // Only a file that failed is removed here, and that failure is what gets
  // reported.
  if (!path_.empty()) files_.unlink(path_.c_str());
}

Status<> TemporaryFile::write(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = files_.write(fd_.get(), next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return failed(Step::Write);
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

Status<> TemporaryFile::keepAttributesOf(const char* previous,
                                         const struct stat& status) {
  auto fail = [] { return failed(Step::KeepAttributes); };
  struct stat own;
  if (files_.fstat(fd_.get(), &own) != 0) return fail();
  if ((own.st_uid != status.st_uid || own.st_gid != status.st_gid) &&
      files_.fchown(fd_.get(), status.st_uid, status.st_gid) != 0) {
    if (!mayStayAsCreated(errno)) return fail();
    if (own.st_gid != status.st_gid &&
        files_.fchown(fd_.get(), static_cast<uid_t>(-1), status.st_gid) != 0 &&
        !mayStayAsCreated(errno))
      return fail();
  }
  if (files_.fchmod(fd_.get(), status.st_mode & 07777) != 0) return fail();
  ssize_t size = files_.lgetxattr(previous, ACCESS_ACL, nullptr, 0);
  if (size < 0) {
    if (errno == ENODATA || errno == ENOTSUP) return {};
    return fail();
  }
  std::vector<char> acl(static_cast<std::size_t>(size));
  size = files_.lgetxattr(previous, ACCESS_ACL, acl.data(), acl.size());
  if (size < 0) return fail();
  if (files_.fsetxattr(fd_.get(), ACCESS_ACL, acl.data(),
                       static_cast<std::size_t>(size), 0) != 0)
    return fail();
  return {};
}

Status<> TemporaryFile::commit(const char* name, const struct stat* previous) {
  if (path_.empty()) {
    if (Status<> linked = linkToHiddenName(); !linked.ok()) return linked;
  }
  if (int error = fd_.close()) return failed(Step::Write, error);
  return previous == nullptr ? placeAsNew(name) : swapWith(name, *previous);
}

Status<> TemporaryFile::linkToHiddenName() {
  // An unnamed file is reached by name only through its descriptor's link
  // in /proc, which a chroot or a sandbox may lack.
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd_.get());
  std::string name;
  for (int attempt = 0; attempt < HIDDEN_NAME_ATTEMPTS; ++attempt) {
    if (int error = randomHiddenName(directory_, suffix_, name))
      return failed(Step::Link, error);
    if (files_.link(link, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      path_ = name;
      return {};
    }
    if (errno != EEXIST) return failed(Step::Link);
  }
  return failed(Step::Link, EEXIST);
}

Status<> TemporaryFile::placeAsNew(const char* name) {
  if (files_.rename(path_.c_str(), name, RENAME_NOREPLACE) == 0) {
    path_.clear();
    return {};
  }
  if (errno != EINVAL) return failed(Step::Replace);
  // A filesystem without the flag (NFS): a link, too, is made only where
  // the name is free.
  if (files_.link(path_.c_str(), name, 0) != 0) return failed(Step::Replace);
  return removeSwappedOut();
}

Status<> TemporaryFile::swapWith(const char* name,
                                 const struct stat& previous) {
  // What name holds is swapped out and then removed rather than renamed
  // over: the name holds one whole image throughout either way, the swap
  // shows what was replaced, and ext4 flushes a file to disk before
  // renaming it over another, which costs more than writing it.
  if (files_.rename(path_.c_str(), name, RENAME_EXCHANGE) != 0) {
    // A reader that takes slots away (moves each frame it has read) leaves
    // the name free for a new one.
    if (errno == ENOENT) return placeAsNew(name);
    if (errno != EINVAL) return failed(Step::Replace);
    // A filesystem that cannot swap (NFS) replaces the name as it finds it.
    if (files_.rename(path_.c_str(), name, 0) != 0)
      return failed(Step::Replace);
    path_.clear();
    return {};
  }
  struct stat swapped;
  if (files_.lstat(path_.c_str(), &swapped) != 0 ||
      !sameFile(swapped, previous)) {
    // Something else took the name's place after it was looked at: it goes
    // back, and is never ours to remove.
    if (files_.rename(path_.c_str(), name, RENAME_EXCHANGE) != 0) path_.clear();
    return failed(Step::Replace, EEXIST);
  }
  return removeSwappedOut();
}

Status<> TemporaryFile::removeSwappedOut() {
  bool removed = files_.unlink(path_.c_str()) == 0;
  int error = errno;
  path_.clear();
  if (removed) return {};
  return failed(Step::RemoveOld, error);
}
