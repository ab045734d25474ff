#include "run/frame_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

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
    FrameWriter writer(nullptr, GetParam());
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

bool written(const WriteResult& result) {
  return result.failure == WriteFailure::None;
}

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
  EXPECT_STREQ(describeWriteFailure(result), "Is a directory");
  // Too small for the jp2 writer, which writes only to named files.
  EXPECT_EQ(write(path("f000.jp2"), cv::Mat(2, 2, CV_8UC3)).failure,
            WriteFailure::EncoderRefused);
  EXPECT_EQ(write(path("gone/f000.jpg"), frame(10)).error, ENOENT);
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

TEST(FrameWriter, NeverReplacesTheInput) {
  char pattern[] = "/tmp/frame_writer_input.XXXXXX.jpg";
  int fd = mkstemps(pattern, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  FrameWriter writer(pattern);
  WriteResult result = writeFrame(writer, pattern, cv::Mat(8, 8, CV_8UC3));
  EXPECT_EQ(result.failure, WriteFailure::SlotIsInput);
  EXPECT_EQ(fs::file_size(pattern), 0u);
  unlink(pattern);
}

TEST(ImageFormat, ProvedWithAColourFrame) {
  for (const char* name : {"f.jpg", "f.png", "f.bmp", "f.tiff", "f.jp2"})
    EXPECT_EQ(checkImageFormat(name), ImageFormat::Usable) << name;
  EXPECT_EQ(checkImageFormat("f.xyz"), ImageFormat::NoWriter);
  for (const char* name : {"f.pgm", "f.pbm", "f.exr"})
    EXPECT_EQ(checkImageFormat(name), ImageFormat::RefusesFrames) << name;
}

}  // namespace
