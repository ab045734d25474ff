// A file written beside the name it is to take and then put in place
// whole, so that the name only ever holds a whole file: unnamed while it is
// written where the filesystem allows it, otherwise under a random hidden
// name. It removes only a name that it created and that still holds what
// it put there or what it swapped out.
#pragma once

#include <sys/stat.h>

#include <string>

#include "run/ring/file_descriptor.h"
#include "run/ring/file_system.h"
#include "run/ring/result.h"

// How many random hidden names are tried before a name that is taken each
// time is given up.
constexpr int HIDDEN_NAME_ATTEMPTS = 100;

// A hidden name in directory that nobody can guess: ".pellux-" and twelve
// random characters, then suffix. Returns 0 or errno.
int randomHiddenName(const std::string& directory, const std::string& suffix,
                     std::string& name);

// Whether two statuses are of one file.
bool sameFile(const struct stat& a, const struct stat& b);

enum class TemporaryNaming {
  UnnamedFirst,  // unnamed until complete, where the filesystem allows it
  Named,         // a hidden name from the start, for writers that need one
};

class TemporaryFile {
 public:
  // Creates an empty file in directory with the permissions a plain create
  // gives there (0666 through the umask, or the directory's default ACL).
  // A hidden name ends with suffix, so that its extension can select an
  // image writer. files must outlive the file.
  static Result<TemporaryFile> create(FileSystem& files,
                                      const std::string& directory,
                                      const std::string& suffix,
                                      TemporaryNaming naming);

  // Removes the hidden name the file still has.
  ~TemporaryFile();
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // The hidden name; empty while the file has none.
  const std::string& path() const { return path_; }

  // Writes data at the end of the file.
  Status<> write(const void* data, std::size_t size);

  // Gives the file the owner, group, permissions and ACL of the regular
  // file previous, whose status is given, where the process may set them.
  Status<> keepAttributesOf(const char* previous, const struct stat& status);

  // Closes the file and puts it in place as name. Without previous, name
  // must hold nothing, and gets the file only while it still does. With
  // previous (what name held when it was looked at, never a directory),
  // the two are swapped, and what came out is removed if it is previous
  // and swapped back otherwise; a name emptied meanwhile is taken as new.
  // A name that something else took meanwhile is kept, failing with
  // Replace and EEXIST. The file is spent either way.
  Status<> commit(const char* name, const struct stat* previous);

 private:
  TemporaryFile(FileSystem& files, std::string directory, std::string suffix,
                FileDescriptor fd, std::string path);
  Status<> linkToHiddenName();
  Status<> placeAsNew(const char* name);
  Status<> swapWith(const char* name, const struct stat& previous);
  Status<> removeSwappedOut();

  FileSystem& files_;
  std::string directory_;
  std::string suffix_;
  FileDescriptor fd_;
  std::string path_;  // a hidden name this object made, while it owns it
};
