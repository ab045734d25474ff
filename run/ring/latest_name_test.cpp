#include "run/ring/latest_name.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class LatestNameTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/latest_name_test.XXXXXX";
    directory = mkdtemp(pattern);
    setDefaultRing(ring);
    std::snprintf(ring.outputBase, sizeof ring.outputBase, "%s/f",
                  directory.c_str());
  }
  void TearDown() override { fs::remove_all(directory); }

  std::string path(const std::string& name) { return directory + "/" + name; }
  // A slot holding size bytes of value.
  std::string slot(int index, std::size_t size, char value) {
    std::string name = path("f00" + std::to_string(index) + ".jpg");
    std::ofstream(name) << std::string(size, value);
    return name;
  }
  std::string refusal(const std::string& name) {
    auto proved = LatestName::prove(name.c_str(), ring, "");
    return proved.ok() ? "proved" : proved.failure().message;
  }
  int hiddenFiles() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(directory))
      count += entry.path().filename().string().rfind(".pellux-", 0) == 0;
    return count;
  }

  std::string directory;
  OutputRing ring;
};

TEST_F(LatestNameTest, AReaderAlwaysFindsAWholeNewestFrame) {
  constexpr std::size_t SIZE = 256 * 1024;
  std::vector<std::string> slots;
  for (int i = 0; i < 4; ++i) slots.push_back(slot(i, SIZE, 'a' + i));
  auto proved = LatestName::prove(path("latest.jpg").c_str(), ring, "");
  ASSERT_TRUE(proved.ok());
  LatestName& latest = proved.value();
  ASSERT_TRUE(latest.update(slots[0].c_str()).written());

  std::atomic<bool> done{false};
  int reads = 0, missing = 0, torn = 0;
  std::thread reader([&] {
    std::vector<char> bytes(SIZE + 1);
    while (!done.load()) {
      int fd = open(latest.name().c_str(), O_RDONLY);
      if (fd < 0) {
        ++missing;
        continue;
      }
      ssize_t got = read(fd, bytes.data(), bytes.size());
      close(fd);
      ++reads;
      bool whole = got == static_cast<ssize_t>(SIZE) &&
                   std::all_of(bytes.begin(), bytes.begin() + SIZE,
                               [&](char c) { return c == bytes[0]; });
      if (!whole) ++torn;
    }
  });
  for (int i = 0; i < 2000; ++i)
    ASSERT_TRUE(latest.update(slots[i % slots.size()].c_str()).written());
  done.store(true);
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(hiddenFiles(), 0);
}

// Fails the chosen call as the system would.
class FailingFileSystem : public FileSystem {
 public:
  int linkError = 0;
  int renameError = 0;
  int link(const char* from, const char* to, int flags) override {
    return linkError != 0 ? fail(linkError) : FileSystem::link(from, to, flags);
  }
  int rename(const char* from, const char* to, unsigned flags) override {
    return renameError != 0 ? fail(renameError)
                            : FileSystem::rename(from, to, flags);
  }

 private:
  static int fail(int error) {
    errno = error;
    return -1;
  }
};

TEST_F(LatestNameTest, AFailedUpdateIsSaidAndLeavesTheNameAsItWas) {
  FailingFileSystem files;
  std::string first = slot(0, 10, 'a'), second = slot(1, 20, 'b');
  auto proved = LatestName::prove(path("latest.jpg").c_str(), ring, "", files);
  ASSERT_TRUE(proved.ok());
  LatestName& latest = proved.value();
  ASSERT_TRUE(latest.update(first.c_str()).written());
  files.linkError = EMLINK;
  EXPECT_EQ(describeWriteFailure("latest.jpg", latest.update(second.c_str())),
            "Could not write latest.jpg: linking the newest frame's file "
            "beside it: Too many links");
  files.linkError = 0;
  files.renameError = EBUSY;
  EXPECT_EQ(describeWriteFailure("latest.jpg", latest.update(second.c_str())),
            "Could not write latest.jpg: replacing it: Device or resource "
            "busy");
  EXPECT_EQ(fs::file_size(path("latest.jpg")), 10u);
  EXPECT_EQ(hiddenFiles(), 0);
}

TEST_F(LatestNameTest, RefusedWhereItCannotHoldTheNewestFrame) {
  EXPECT_EQ(refusal(path("now.jpg")), "proved");
  EXPECT_EQ(refusal(path("f003.jpg")), "Cannot keep the newest frame as " +
                                           path("f003.jpg") +
                                           ": it is one of the slots");
  EXPECT_EQ(refusal(directory + "/./f010.jpg"),
            "Cannot keep the newest frame as " + directory +
                "/./f010.jpg: it is one of the slots");
  // Names the slots never take: out of the range, or written another way.
  for (const char* free : {"f011.jpg", "f3.jpg", "f000.png", "f-01.jpg"})
    EXPECT_EQ(refusal(path(free)), "proved") << free;
  EXPECT_EQ(refusal(directory), "Cannot keep the newest frame as " + directory +
                                    ": it is a directory");
  EXPECT_EQ(refusal(path("gone/now.jpg")),
            "Cannot keep the newest frame as " + path("gone/now.jpg") +
                ": its directory: No such file or directory");
  std::string input = path("clip.mp4");
  std::ofstream(input) << "video";
  auto proved = LatestName::prove(input.c_str(), ring, input);
  EXPECT_EQ(proved.failure().message, "Cannot keep the newest frame as " +
                                          input +
                                          ": it is the video being read");
  EXPECT_EQ(hiddenFiles(), 0);
}

}  // namespace
