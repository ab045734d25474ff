// A file written beside the name it is to take, so that the name only ever
// holds a whole file: unnamed while it is written where the filesystem
// allows it, otherwise under a random hidden name. It removes only a name
// that it created and that still holds what it put there or what it
// swapped out.
#pragma once

#include <sys/stat.h>

#include <string>

enum class TemporaryNaming {
  UnnamedFirst,  // unnamed until complete, where the filesystem allows it
  Named,         // a hidden name from the start
};

class TemporaryFile {
 public:
  // Creates the file in directory with the permissions a plain create
  // gives there (0666 through the umask, or the directory's default ACL).
  // A hidden name ends with suffix, so that its extension can select an
  // image writer.
  TemporaryFile(const std::string& directory, const std::string& suffix,
                TemporaryNaming naming);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // errno of the failed creation, or 0 when the file is open.
  int error() const { return error_; }
  int descriptor() const { return fd_; }
  // The hidden name; empty while the file has none.
  const std::string& path() const { return path_; }

  // Writes data at the end of the file. Returns 0 or errno.
  int write(const void* data, std::size_t size);

  // Gives the permissions, owner and ACL of the file at previous (whose
  // status is given) to this one, where the process may set them.
  // Returns 0 or errno.
  int copyAttributesOf(const char* previous, const struct stat& status);

  // Closes the file and gives it a hidden name if it has none. Returns 0
  // or errno.
  int close();

  enum class Placement { Placed, SlotChanged, Failed };
  // Puts the closed file in place as name. With previous, the regular file
  // that name held when it was looked at is swapped out and removed with
  // this object; anything else found there by then is swapped back and
  // the result is SlotChanged. Failed leaves errno in error.
  Placement putInPlace(const char* name, const struct stat* previous,
                       int& error);

 private:
  int linkToHiddenName();

  std::string directory_;
  std::string suffix_;
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool ownsPath_ = false;  // path_ holds a file this object made or took
};
