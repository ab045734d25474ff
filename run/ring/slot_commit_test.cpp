#include "run/ring/slot_commit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "run/ring/frame_writer.h"

namespace fs = std::filesystem;

namespace {

// A POSIX ACL as the kernel stores it in an extended attribute.
struct AclEntry {
  uint16_t tag;  // 1 owner, 2 user, 4 group, 8 named group, 16 mask, 32 other
  uint16_t permissions;
  uint32_t id;
};
constexpr uint32_t NO_ID = UINT32_MAX;

std::string aclBytes(std::initializer_list<AclEntry> entries) {
  std::string bytes;
  auto append = [&](const void* data, std::size_t size) {
    bytes.append(static_cast<const char*>(data), size);
  };
  uint32_t version = 2;
  append(&version, sizeof version);
  for (const AclEntry& entry : entries) {
    append(&entry.tag, sizeof entry.tag);
    append(&entry.permissions, sizeof entry.permissions);
    append(&entry.id, sizeof entry.id);
  }
  return bytes;
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  ssize_t size = lgetxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "" : std::string(value, static_cast<std::size_t>(size));
}

ImageFormat formatOf(const std::string& name) {
  return std::get<ImageFormat>(chooseImageFormat(name.c_str()));
}

// Encodes frame for name and puts it in place, as the pipeline does.
WriteResult writeFrame(FrameWriter& writer, const std::string& name,
                       const cv::Mat& frame) {
  EncodedFrame encoded;
  WriteResult result = writer.encode(name.c_str(), frame, encoded);
  return result.failure == WriteFailure::None
             ? writer.place(name.c_str(), encoded)
             : result;
}

class FrameWriterTest : public testing::TestWithParam<TemporaryNaming> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/frame_writer_test.XXXXXX";
    directory = mkdtemp(pattern);
    previousMask = umask(022);
  }
  void TearDown() override {
    umask(previousMask);
    fs::remove_all(directory);
  }

  WriteResult write(const std::string& name, const cv::Mat& image) {
    SlotCommit commit("", systemFileSystem(), GetParam());
    FrameWriter writer(formatOf(name), commit);
    return writeFrame(writer, name, image);
  }
  std::string path(const char* name) { return directory + "/" + name; }
  // Every entry with its size, hidden ones included.
  std::vector<std::string> entries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
      names.push_back(
          entry.path().filename().string() + " " +
          std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
    std::sort(names.begin(), names.end());
    return names;
  }
  static cv::Mat frame(int shade) {
    return cv::Mat(48, 64, CV_8UC3, cv::Scalar(shade, 255 - shade, 90));
  }
  static struct stat statusOf(const std::string& name) {
    struct stat status = {};
    stat(name.c_str(), &status);
    return status;
  }

  std::string directory;
  mode_t previousMask;
};

bool written(const WriteResult& result) { return result.written(); }

TEST_P(FrameWriterTest, ReplacesTheSlotWithTheWholeNewImage) {
  std::string slot = path("f000.png");
  ASSERT_TRUE(written(write(slot, frame(10))));
  EXPECT_EQ(statusOf(slot).st_mode & 0777, 0644u);  // umask 022
  chmod(slot.c_str(), 0600);
  // Others' hidden files are never taken or removed.
  std::ofstream(path(".pellux-other")) << "theirs";
  ASSERT_TRUE(written(write(slot, frame(200))));
  cv::Mat read = cv::imread(slot, cv::IMREAD_UNCHANGED);
  EXPECT_EQ(cv::norm(read, frame(200), cv::NORM_INF), 0);
  EXPECT_EQ(statusOf(slot).st_mode & 0777, 0600u);
  EXPECT_EQ(entries(), (std::vector<std::string>{
                           ".pellux-other 6",
                           "f000.png " + std::to_string(fs::file_size(slot))}));
}

TEST_P(FrameWriterTest, AReplacedSlotKeepsItsOwnerAndAcl) {
  std::string slot = path("f000.jpg");
  ASSERT_TRUE(written(write(slot, frame(10))));
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(slot.c_str(), 65534, 65534), 0);
  }
  std::string acl = aclBytes({{1, 6, NO_ID},
                              {2, 4, 65534},
                              {4, 4, NO_ID},
                              {16, 4, NO_ID},
                              {32, 0, NO_ID}});
  ASSERT_EQ(setxattr(slot.c_str(), "system.posix_acl_access", acl.data(),
                     acl.size(), 0),
            0);
  ASSERT_TRUE(written(write(slot, frame(200))));
  EXPECT_EQ(attribute(slot, "system.posix_acl_access"), acl);
  EXPECT_EQ(statusOf(slot).st_mode & 0777, 0640u);
  if (!root) GTEST_SKIP() << "the owner is kept only where it may be set";
  EXPECT_EQ(statusOf(slot).st_uid, 65534u);
  EXPECT_EQ(statusOf(slot).st_gid, 65534u);
}

TEST_P(FrameWriterTest, ANewSlotFollowsTheDirectorysDefaultAcl) {
  std::string acl = aclBytes({{1, 6, NO_ID}, {4, 4, NO_ID}, {32, 0, NO_ID}});
  ASSERT_EQ(setxattr(directory.c_str(), "system.posix_acl_default", acl.data(),
                     acl.size(), 0),
            0);
  std::string slot = path("f000.jpg");
  ASSERT_TRUE(written(write(slot, frame(10))));
  EXPECT_EQ(statusOf(slot).st_mode & 0777, 0640u);  // not 0644 by the umask
  ASSERT_TRUE(written(write(path("f001.jp2"), frame(10))));
  EXPECT_EQ(statusOf(path("f001.jp2")).st_mode & 0777, 0640u);
}

TEST_P(FrameWriterTest, AFailureLeavesTheDirectoryAsItWas) {
  ASSERT_TRUE(written(write(path("f000.jp2"), frame(10))));
  fs::create_directory(path("f001.jpg"));
  std::ofstream(path("f001.jpg/inside")) << "kept";
  std::vector<std::string> before = entries();

  WriteResult result = write(path("f001.jpg"), frame(10));
  EXPECT_EQ(result.failure, WriteFailure::System);
  EXPECT_EQ(result.system.step, Step::Replace);
  EXPECT_EQ(result.system.error, EISDIR);
  // Too small for the jp2 writer, which writes only to named files.
  EXPECT_EQ(write(path("f000.jp2"), cv::Mat(2, 2, CV_8UC3)).failure,
            WriteFailure::EncoderRefused);
  result = write(path("gone/f000.jpg"), frame(10));
  EXPECT_EQ(result.system.step, Step::CreateTemporary);
  EXPECT_EQ(result.system.error, ENOENT);
  EXPECT_EQ(entries(), before);
  EXPECT_LT(cv::norm(cv::imread(path("f000.jp2")), frame(10), cv::NORM_INF), 8);
}

TEST_P(FrameWriterTest, ReplacesALinkInsteadOfWritingThroughIt) {
  std::string target = path("target");
  std::ofstream(target) << "not a frame";
  ASSERT_EQ(symlink(target.c_str(), path("f000.jpg").c_str()), 0);
  ASSERT_TRUE(written(write(path("f000.jpg"), frame(10))));
  EXPECT_EQ(fs::file_size(target), 11u);
  EXPECT_FALSE(fs::is_symlink(path("f000.jpg")));
}

INSTANTIATE_TEST_SUITE_P(
    Temporaries, FrameWriterTest,
    testing::Values(TemporaryNaming::UnnamedFirst, TemporaryNaming::Named),
    [](const testing::TestParamInfo<TemporaryNaming>& info) {
      return info.param == TemporaryNaming::Named ? "Named" : "UnnamedFirst";
    });

// The system's calls, with chosen ones failing as the system would, or
// with another program acting just before a rename.
class FaultyFileSystem : public FileSystem {
 public:
  int linkError = 0;    // linking an unnamed file fails with it
  int renameError = 0;  // renames with these flags fail with it
  unsigned renameFlags = RENAME_EXCHANGE | RENAME_NOREPLACE;
  int unlinkError = 0;
  int fchmodError = 0;
  std::size_t writable = SIZE_MAX;  // bytes before writes fail: ENOSPC
  std::function<void(const char* name)> beforeRename;
  int unnamedCreates = 0;

  int open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_TMPFILE) == O_TMPFILE) ++unnamedCreates;
    return FileSystem::open(path, flags, mode);
  }
  ssize_t write(int fd, const void* data, std::size_t size) override {
    if (writable == 0) return fail(ENOSPC);
    size = std::min(size, writable);
    writable -= size;
    return FileSystem::write(fd, data, size);
  }
  int link(const char* from, const char* to, int flags) override {
    if (linkError != 0 && std::strncmp(from, "/proc/", 6) == 0)
      return fail(linkError);
    return FileSystem::link(from, to, flags);
  }
  int rename(const char* from, const char* to, unsigned flags) override {
    if (beforeRename) std::exchange(beforeRename, nullptr)(to);
    if (renameError != 0 && (flags & renameFlags) != 0)
      return fail(renameError);
    return FileSystem::rename(from, to, flags);
  }
  int unlink(const char* path) override {
    return unlinkError != 0 ? fail(unlinkError) : FileSystem::unlink(path);
  }
  int fchmod(int fd, mode_t mode) override {
    return fchmodError != 0 ? fail(fchmodError) : FileSystem::fchmod(fd, mode);
  }

 private:
  static int fail(int error) {
    errno = error;
    return -1;
  }
};

class SlotCommitTest : public FrameWriterTest {
 protected:
  void SetUp() override {
    FrameWriterTest::SetUp();
    slot = path("f000.png");
  }
  // Writes shade to f000.png, as a run would with files.
  WriteResult writeSlot(int shade) {
    SlotCommit commit("", files, GetParam());
    FrameWriter writer(formatOf(slot), commit);
    return writeFrame(writer, slot, frame(shade));
  }
  int slotShade() {
    cv::Mat image = cv::imread(slot, cv::IMREAD_UNCHANGED);
    return image.empty() ? -1 : image.at<cv::Vec3b>(0, 0)[0];
  }
  int hiddenFiles() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(directory))
      count += entry.path().filename().string().rfind(".pellux-", 0) == 0;
    return count;
  }
  static std::string reported(const WriteResult& result) {
    return describeWriteFailure("f000.png", result);
  }

  FaultyFileSystem files;
  std::string slot;
};

TEST_P(SlotCommitTest, AFailedStepLeavesTheSlotAsItWasAndSaysWhich) {
  ASSERT_TRUE(written(writeSlot(10)));
  files.renameError = EBUSY;
  EXPECT_EQ(reported(writeSlot(20)),
            "Could not write f000.png: replacing it: Device or resource busy");
  files.renameError = 0;
  files.writable = 100;  // a short write, then a full disk
  EXPECT_EQ(reported(writeSlot(30)),
            "Could not write f000.png: writing it: No space left on device");
  files.writable = SIZE_MAX;
  files.fchmodError = EIO;
  EXPECT_EQ(reported(writeSlot(40)),
            "Could not write f000.png: giving it the owner and permissions of "
            "the one it replaces: Input/output error");
  EXPECT_EQ(slotShade(), 10);
  EXPECT_EQ(hiddenFiles(), 0);
}

TEST_P(SlotCommitTest, ARemovalThatFailsIsReportedWithTheImageInPlace) {
  ASSERT_TRUE(written(writeSlot(10)));
  files.unlinkError = EIO;
  WriteResult result = writeSlot(20);
  EXPECT_EQ(reported(result),
            "f000.png is in place, but a hidden file is left beside it: "
            "Input/output error");
  EXPECT_EQ(slotShade(), 20);
  EXPECT_EQ(hiddenFiles(), 1);
}

TEST_P(SlotCommitTest, WhatAnotherProgramDoesToTheSlotMeanwhileIsKept) {
  auto theirs = [](const char* name) { std::ofstream(name) << "theirs"; };
  files.beforeRename = theirs;  // before a new slot is placed
  WriteResult result = writeSlot(10);
  EXPECT_EQ(reported(result),
            "Could not write f000.png: something else took its place while "
            "it was written");
  EXPECT_EQ(fs::file_size(slot), 6u);
  fs::remove(slot);
  ASSERT_TRUE(written(writeSlot(10)));
  files.beforeRename = [&](const char* name) {  // before one is swapped
    std::ofstream(path("other")) << "theirs";
    fs::rename(path("other"), name);
  };
  EXPECT_EQ(writeSlot(20).system.error, EEXIST);
  EXPECT_EQ(fs::file_size(slot), 6u);
  // A reader that takes each slot away leaves the name to the next frame.
  files.beforeRename = [](const char* name) { fs::remove(name); };
  EXPECT_TRUE(written(writeSlot(30)));
  EXPECT_EQ(slotShade(), 30);
  EXPECT_EQ(hiddenFiles(), 0);
}

TEST_P(SlotCommitTest, FilesystemsThatCannotSwapOrRefuseToReplaceStillWork) {
  files.renameError = EINVAL;  // as NFS answers these flags
  ASSERT_TRUE(written(writeSlot(10)));
  ASSERT_TRUE(written(writeSlot(20)));
  EXPECT_EQ(slotShade(), 20);
  EXPECT_EQ(hiddenFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Temporaries, SlotCommitTest,
    testing::Values(TemporaryNaming::UnnamedFirst, TemporaryNaming::Named),
    [](const testing::TestParamInfo<TemporaryNaming>& info) {
      return info.param == TemporaryNaming::Named ? "Named" : "UnnamedFirst";
    });

TEST(UnnamedTemporaries, GivenUpOnlyWhereTheyCannotBeLinked) {
  char pattern[] = "/tmp/unnamed_test.XXXXXX";
  std::string directory = mkdtemp(pattern);
  std::string slot = directory + "/f000.jpg";
  cv::Mat frame(8, 8, CV_8UC3, cv::Scalar(1, 2, 3));
  FaultyFileSystem files;
  SlotCommit commit("", files);
  FrameWriter writer(formatOf(slot), commit);
  files.linkError = ENOSPC;  // a full disk is no reason to give them up
  WriteResult result = writeFrame(writer, slot, frame);
  EXPECT_EQ(result.system.step, Step::Link);
  EXPECT_EQ(result.system.error, ENOSPC);
  files.linkError = ENOENT;  // no /proc: the frame is written named
  EXPECT_TRUE(written(writeFrame(writer, slot, frame)));
  EXPECT_EQ(files.unnamedCreates, 2);
  files.linkError = 0;
  EXPECT_TRUE(written(writeFrame(writer, slot, frame)));
  EXPECT_EQ(files.unnamedCreates, 2);  // and so are the frames after it
  fs::remove_all(directory);
}

TEST(SlotCommit, NeverReplacesTheInput) {
  char pattern[] = "/tmp/frame_writer_input.XXXXXX.jpg";
  int fd = mkstemps(pattern, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  SlotCommit commit(pattern);
  FrameWriter writer(formatOf(pattern), commit);
  WriteResult result = writeFrame(writer, pattern, cv::Mat(8, 8, CV_8UC3));
  EXPECT_EQ(result.failure, WriteFailure::SlotIsInput);
  EXPECT_EQ(fs::file_size(pattern), 0u);
  unlink(pattern);
}

}  // namespace
