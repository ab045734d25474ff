#include "cli/argument_parser.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/number_reading.h"
#include "cli/printable.h"
#include "cli/stream_url.h"

#define SIZE_USAGE \
  "\t-size WxH Asks a camera for frames of this size, as in 1280x720.\n"

const char HELP_TEXT[] =
    "pellux     -> to convert a video captured with the first webcam "
    "attached to the\n"
    "              PC into a sequence of images.\n"
    "pellux [n] -> to convert a video captured with the n-th webcam attached "
    "to the\n"
    "              PC into a sequence of images.\n"
    "pellux [input video filename=video.avi] [options] [output image "
    "basefilename=f]\n"
    "           -> to convert a video file into a sequence of images.\n"
    "\n"
    "Description:\n"
    "\tConverts a video to a sequence of images.  By default this function\n"
    "\tgenerates files with base name \"f\" and indices in the range\n"
    "\tbetween 0 to 10 with three zero padding, i.e. f000.jpg, f001.jpg, "
    "...,\n"
    "\tf010.jpg, at a frame rate that depends on the hardware.\n"
    "\n"
    "Options:\n"
    "\t-h   Prints this help.\n"
    "\t-nv  Turns verbose off.\n"
    "\t-np  Do not wait for user to press ESC when done.\n"
    "\t-nd  Do not display images.\n"
    "\t-no  Do not save the output.\n"
    "\t-e   Filename extension [=jpg]\n"
    "\t-sq initial_value final_value\n"
    "\t    Tells pellux to generate a sequence of images\n"
    "\tstarting at filename<initial_value>.ext and\n"
    "\tending in filename<final_value>.ext\n"
    "\tBy default the sequence range is assumed to be between 0 and 10\n"
    "\twith zero-padding = 3, i.e. 000, 001, ..., 010.\n"
    "\t-zp num   Pad filename suffix with num zeros.\n"
    "\t-fps num  Sets the frame acquisition rate (in frames per second).\n"
    "\t          A camera is asked for it and a stream kept to it; a video\n"
    "\t          file gives every frame.\n" SIZE_USAGE
    "\t-latest name  Gives the newest frame written this name too.\n"
    "\n";

bool isOption(const char* text) { return std::strcspn(text, "-") == 0; }

namespace {

bool has(const char* argument, const char* key) {
  return std::strstr(argument, key) != nullptr;
}

// Copies text into a field, refusing what does not fit: a cut name would
// make the run write somewhere nobody asked for.
template <std::size_t size>
bool copyField(char (&field)[size], const char* text, const char* label) {
  std::size_t length = std::strlen(text);
  if (length >= size) {
    std::fprintf(stderr, "%s is too long: at most %zu characters.\n", label,
                 size - 1);
    return false;
  }
  std::memcpy(field, text, length + 1);
  return true;
}

// The largest width or height taken: more than any camera gives, and
// small enough that a frame's size in bytes stays far from overflowing.
constexpr int LARGEST_SIDE = 65535;

// Reads a side of a size from text, moving it past the digits.
int readSide(const char*& text) {
  int side = 0;
  for (; *text >= '0' && *text <= '9' && side <= LARGEST_SIDE; ++text)
    side = side * 10 + (*text - '0');
  return side;
}

// Reads "WxH": two whole numbers from 1 to LARGEST_SIDE, and nothing else.
bool readSize(const char* text, FrameSize& size) {
  int width = readSide(text);
  if (*text++ != 'x') return false;
  int height = readSide(text);
  if (*text != '\0' || width < 1 || width > LARGEST_SIDE || height < 1 ||
      height > LARGEST_SIDE)
    return false;
  size = {width, height};
  return true;
}

// What applying one option did: the operands it took, and whether the
// parse goes on.
struct Applied {
  int operands;
  ParseResult result;
};

// Applies the option at argv[position].
Applied applyOption(int argc, const char* const* argv, int position,
                    RunSettings& settings) {
  const char* argument = argv[position];
  const char* const* operands = argv + position + 1;
  int operandsLeft = argc - position - 1;
  // An option too close to the end changes nothing; the operands it has
  // are still its own, not output names.
  auto lacksOperands = [&](int needed) {
    if (operandsLeft >= needed) return false;
    if (settings.verbose)
      std::printf("Missing value for %s: option ignored.\n",
                  printable(argument).c_str());
    return true;
  };

  OutputRing& ring = settings.ring;
  if (has(argument, "-nv")) {
    settings.verbose = false;
  } else if (has(argument, "-np")) {
    // The run never waits at its end; nothing to change.
  } else if (has(argument, "-nd")) {
    settings.showImages = false;
    if (settings.verbose) std::printf("No display.\n");
  } else if (has(argument, "-no")) {
    settings.saveImages = false;
    if (settings.verbose) std::printf("No output.\n");
  } else if (has(argument, "-h")) {
    std::fputs(HELP_TEXT, stdout);
    return {0, ParseResult::HelpShown};
  } else if (has(argument, "-e")) {
    if (lacksOperands(1)) return {operandsLeft, ParseResult::Run};
    if (!copyField(ring.extension, operands[0], "Extension"))
      return {1, ParseResult::Refused};
    return {1, ParseResult::Run};
  } else if (has(argument, "-sq")) {
    if (lacksOperands(2)) return {operandsLeft, ParseResult::Run};
    ring.firstIndex = readInteger(operands[0]);
    ring.lastIndex = readInteger(operands[1]);
    std::printf("v0:%d, v1:%d\n", ring.firstIndex, ring.lastIndex);
    return {2, ParseResult::Run};
  } else if (has(argument, "-zp")) {
    if (lacksOperands(1)) return {operandsLeft, ParseResult::Run};
    ring.paddingWidth = readInteger(operands[0]);
    return {1, ParseResult::Run};
  } else if (has(argument, "-fps")) {
    if (lacksOperands(1)) return {operandsLeft, ParseResult::Run};
    // A rate that is not a positive number leaves the camera at its own.
    double rate = std::atof(operands[0]);
    settings.frameRate = std::isfinite(rate) && rate > 0 ? rate : 0;
    return {1, ParseResult::Run};
  } else if (has(argument, "-size")) {
    if (lacksOperands(1)) return {operandsLeft, ParseResult::Run};
    if (!readSize(operands[0], settings.frameSize)) {
      std::fprintf(stderr, "Invalid size: %s\n%s",
                   printable(operands[0]).c_str(), SIZE_USAGE);
      return {1, ParseResult::Refused};
    }
    return {1, ParseResult::Run};
  } else if (has(argument, "-latest")) {
    if (lacksOperands(1)) return {operandsLeft, ParseResult::Run};
    if (!copyField(settings.latestName, operands[0], "Latest frame name"))
      return {1, ParseResult::Refused};
    return {1, ParseResult::Run};
  } else if (settings.verbose) {
    std::printf("Invalid option detected: %s\n", printable(argument).c_str());
  }
  return {0, ParseResult::Run};
}

}  // namespace

ParseResult parseArguments(int argc, const char* const* argv,
                           RunSettings& settings) {
  setDefaultSettings(settings);
  settings.source = chooseSource(argc, argv, std::getenv(SOURCE_VARIABLE));
  for (int i = 1; i < argc; ++i) {
    if (isOption(argv[i]) && has(argv[i], "-nv")) {
      settings.verbose = false;
      break;
    }
  }
  if (settings.verbose) std::printf("Verbose is on.\n");

  int position = 1;
  while (position < argc) {
    const char* argument = argv[position];
    Applied applied = {0, ParseResult::Run};
    if (!isOption(argument) && position == 1) {
      // The source is this argument itself, chosen above.
      if (settings.verbose)
        std::printf("Input filename: %s\n",
                    printable(withoutSecrets(argument)).c_str());
    } else if (!isOption(argument)) {
      if (!copyField(settings.ring.outputBase, argument,
                     "Output base filename"))
        return ParseResult::Refused;
      if (settings.verbose)
        std::printf("New output base filename: %s\n",
                    printable(argument).c_str());
    } else {
      applied = applyOption(argc, argv, position, settings);
      if (applied.result != ParseResult::Run) return applied.result;
    }
    position += 1 + applied.operands;
  }
  return ParseResult::Run;
}
