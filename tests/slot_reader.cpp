// Reads ring slots the way another program would and counts the reads that
// found no file or an image that does not decode, and the reads that found
// a slot replaced since its previous read. With --until FILE it keeps
// reading until FILE exists; otherwise it reads each slot once.
// Prints "reads N missing N torn N replaced N"; exits 1 when any read was
// bad. With --numbers it prints the frame number that each slot's picture
// carries (as the test camera draws it), or -1 where it carries none.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace {

// A png ends with its IEND chunk; a torn one lacks it even where the
// decoder would make do with the rows it found.
bool complete(const std::vector<char>& data, const char* name) {
  static const char IEND[] = "IEND\xae\x42\x60\x82";
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || std::strcmp(dot, ".png") != 0) return true;
  return data.size() >= 8 &&
         std::memcmp(data.data() + data.size() - 8, IEND, 8) == 0;
}

// The test camera's frames carry their number in 32 blocks across the top,
// most significant bit first, white for one, with the inverted blocks below.
long frameNumber(const char* name) {
  cv::Mat picture = cv::imread(name, cv::IMREAD_GRAYSCALE);
  if (picture.cols < 32 || picture.rows < 16) return -1;
  int blockWidth = picture.cols / 32, blockHeight = picture.rows / 16;
  unsigned long number = 0;
  for (int block = 0; block < 32; ++block) {
    int x = block * blockWidth + blockWidth / 2;
    bool bit = picture.at<unsigned char>(blockHeight / 2, x) > 128;
    bool inverted = picture.at<unsigned char>(blockHeight * 3 / 2, x) > 128;
    if (bit == inverted) return -1;
    number = number << 1 | bit;
  }
  return static_cast<long>(number);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--numbers") == 0) {
    for (int i = 2; i < argc; ++i) std::printf("%ld\n", frameNumber(argv[i]));
    return 0;
  }
  int first = 1;
  const char* until = nullptr;
  if (argc > 2 && std::strcmp(argv[1], "--until") == 0) {
    until = argv[2];
    first = 3;
  }
  std::vector<bool> seen(argc, until == nullptr);
  std::vector<std::vector<char>> previous(argc);
  long reads = 0, missing = 0, torn = 0, replaced = 0;
  struct stat stop;
  do {
    for (int i = first; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      if (!in) {
        missing += seen[i];  // a slot counts once it has been written
        reads += seen[i];
        continue;
      }
      ++reads;
      std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
      if (!previous[i].empty() && data != previous[i]) ++replaced;
      seen[i] = true;
      if (!complete(data, argv[i]) ||
          cv::imdecode(data, cv::IMREAD_UNCHANGED).empty())
        ++torn;
      previous[i] = std::move(data);
    }
  } while (until != nullptr && stat(until, &stop) != 0);
  std::printf("reads %ld missing %ld torn %ld replaced %ld\n", reads, missing,
              torn, replaced);
  return missing == 0 && torn == 0 ? 0 : 1;
}
