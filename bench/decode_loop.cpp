// Baselines for the benchmark: decodes a clip or a stream with OpenCV's
// FFmpeg backend into BGR frames, and with "write" writes each frame in turn
// with cv::imwrite as f000.jpg, f001.jpg and so on; with "grab" only reads
// and decodes each frame, without converting it. Prints the frame count and
// the loop's time per frame.
#include <cstdio>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CLIP [write|grab]\n", argv[0]);
    return 2;
  }
  bool write = argc > 2 && std::strcmp(argv[2], "write") == 0;
  bool grabOnly = argc > 2 && std::strcmp(argv[2], "grab") == 0;
  cv::VideoCapture capture(argv[1], cv::CAP_FFMPEG);
  if (!capture.isOpened()) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  cv::Mat frame;
  char name[32];
  int frames = 0;
  int64_t start = cv::getTickCount();
  for (; grabOnly ? capture.grab() : capture.read(frame); ++frames) {
    std::snprintf(name, sizeof name, "f%03d.jpg", frames);
    if (write && !cv::imwrite(name, frame)) return 1;
  }
  double seconds = (cv::getTickCount() - start) / cv::getTickFrequency();
  std::printf("%d frames, %.3f ms/frame\n", frames,
              frames > 0 ? seconds * 1000 / frames : 0.0);
  return 0;
}
