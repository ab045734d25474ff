#include "run/source/camera_jpeg.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char MARKER = 0xFF;
constexpr unsigned char SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, DQT = 0xDB,
                        DRI = 0xDD, DHT = 0xC4, DAC = 0xCC;

// The typical Huffman tables of the JPEG standard (its Annex K.3), which
// cameras that send no tables encode with. As one DHT segment each, in the
// order libjpeg writes them: luminance DC and AC, then chrominance DC and
// AC.
// clang-format off
const unsigned char STANDARD_TABLES[] = {
    // luminance DC
    0xFF, 0xC4, 0x00, 0x1F, 0x00,
    0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // luminance AC
    0xFF, 0xC4, 0x00, 0xB5, 0x10,
    0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03,
    0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7D,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06,
    0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08,
    0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
    0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
    0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9,
    0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4,
    0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
    // chrominance DC
    0xFF, 0xC4, 0x00, 0x1F, 0x01,
    0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // chrominance AC
    0xFF, 0xC4, 0x00, 0xB5, 0x11,
    0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04,
    0x07, 0x05, 0x04, 0x04, 0x00, 0x01, 0x02, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41,
    0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91,
    0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1,
    0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26,
    0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74,
    0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A,
    0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4,
    0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7,
    0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA,
    0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4,
    0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};
// clang-format on

// Markers that stand alone, without a length: TEM and the restarts.
bool standsAlone(unsigned char marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Markers that libjpeg skips: APP0 to APP15 and COM.
bool isSkipped(unsigned char marker) {
  return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

// Where the marker after the scan data that starts at at lies, or size.
// In scan data a 0xFF byte is followed by 0 (a stuffed byte) or a restart.
std::size_t pastScanData(const unsigned char* data, std::size_t size,
                         std::size_t at) {
  while (at < size) {
    const void* found = std::memchr(data + at, MARKER, size - at);
    if (found == nullptr) return size;
    at = static_cast<std::size_t>(static_cast<const unsigned char*>(found) -
                                  data);
    if (at + 1 >= size) return size;
    unsigned char next = data[at + 1];
    if (next != 0 && !standsAlone(next) && next != MARKER) return at;
    at += next == MARKER ? 1 : 2;
  }
  return size;
}

// Whether a Huffman table of counts[i] codes of length i + 1 is one that
// libjpeg builds: at each length no more codes than there is room for, and
// none of all one bits.
bool isHuffmanCode(const unsigned char* counts) {
  unsigned long code = 0;
  for (int length = 1; length <= 16; ++length) {
    code += counts[length - 1];
    if (code >= 1ul << length) return false;
    code <<= 1;
  }
  return true;
}

// Reads a JPEG image's segments in order as libjpeg does, keeping what
// they define, and refuses each that would stop libjpeg from decoding the
// image: what it reports as an error rather than as damaged data.
class HeaderReader {
 public:
  // Reads the segment of marker whose body, past its length field, is the
  // length bytes at body. Returns whether libjpeg would go on.
  bool read(unsigned char marker, const unsigned char* body,
            std::size_t length) {
    switch (marker) {
      case 0xC0:  // baseline
      case 0xC1:  // extended
        return readFrame(body, length, false, false);
      case 0xC2:
        return readFrame(body, length, true, false);
      case 0xC9:  // arithmetic coding, which libjpeg-turbo here decodes
        return readFrame(body, length, false, true);
      case 0xCA:
        return readFrame(body, length, true, true);
      case DHT:
        return readHuffmanTables(body, length);
      case DAC:
        return readConditioning(body, length);
      case DQT:
        return readQuantTables(body, length);
      case DRI:
        return length == 2;
      case SOS:
        return readScan(body, length);
    }
    // Lossless and hierarchical frames, a second SOI, DNL and the
    // reserved markers.
    return isSkipped(marker);
  }

  bool anyScan() const { return scans_ > 0; }
  bool tablesBeforeScan() const { return tablesBeforeScan_; }
  unsigned width() const { return width_; }
  unsigned height() const { return height_; }

 private:
  struct Component {
    unsigned char id, across, down, quantTable;  // across, down: sampling
    bool scanned;
  };

  // One frame of 8-bit samples, grey or in colour, each component with
  // its own identifier and sampling factors from 1 to 4 that divide the
  // largest ones, as libjpeg's upsampling needs.
  bool readFrame(const unsigned char* body, std::size_t length,
                 bool progressive, bool arithmetic) {
    if (frameRead_ || length < 6) return false;
    unsigned count = body[5];
    if (body[0] != 8 || (count != 1 && count != 3) || length != 6 + 3 * count)
      return false;
    height_ = body[1] << 8 | body[2];
    width_ = body[3] << 8 | body[4];
    if (width_ == 0 || height_ == 0) return false;
    unsigned char mostAcross = 1, mostDown = 1;
    for (unsigned i = 0; i < count; ++i) {
      const unsigned char* fields = body + 6 + 3 * i;
      Component component = {
          fields[0], static_cast<unsigned char>(fields[1] >> 4),
          static_cast<unsigned char>(fields[1] & 15), fields[2], false};
      if (component.across < 1 || component.across > 4 || component.down < 1 ||
          component.down > 4 || component.quantTable >= TABLES ||
          indexOf(component.id) >= 0)
        return false;
      mostAcross = std::max(mostAcross, component.across);
      mostDown = std::max(mostDown, component.down);
      components_[componentCount_++] = component;
    }
    for (unsigned i = 0; i < count; ++i)
      if (mostAcross % components_[i].across != 0 ||
          mostDown % components_[i].down != 0)
        return false;
    frameRead_ = true;
    progressive_ = progressive;
    arithmetic_ = arithmetic;
    return true;
  }

  bool readQuantTables(const unsigned char* body, std::size_t length) {
    for (std::size_t at = 0; at < length;) {
      unsigned precision = body[at] >> 4, table = body[at] & 15;
      std::size_t values = 64 * (precision + 1);
      if (precision > 1 || table >= TABLES || length - at - 1 < values)
        return false;
      quantDefined_[table] = true;
      at += 1 + values;
    }
    return true;
  }

  bool readHuffmanTables(const unsigned char* body, std::size_t length) {
    if (!anyScan()) tablesBeforeScan_ = true;
    std::size_t at = 0;
    while (length - at > 16) {
      unsigned kind = body[at] >> 4, table = body[at] & 15;
      const unsigned char* counts = body + at + 1;
      std::size_t symbols = 0;
      for (int i = 0; i < 16; ++i) symbols += counts[i];
      at += 17;
      if (kind > 1 || table >= TABLES || symbols > 256 ||
          symbols > length - at || !isHuffmanCode(counts))
        return false;
      // A DC symbol is the bit count of a difference, 15 at most.
      if (kind == 0)
        for (std::size_t i = 0; i < symbols; ++i)
          if (body[at + i] > 15) return false;
      huffmanDefined_[kind][table] = true;
      at += symbols;
    }
    return at == length;
  }

  // Arithmetic coding's conditioning: for DC tables a lower bound not
  // above the upper one, for AC ones a value from 1 to 63.
  bool readConditioning(const unsigned char* body, std::size_t length) {
    if (length % 2 != 0) return false;
    for (std::size_t at = 0; at < length; at += 2) {
      unsigned kind = body[at] >> 4, table = body[at] & 15;
      unsigned char value = body[at + 1];
      if (kind > 1 || table >= TABLES) return false;
      if (kind == 0 ? (value & 15) > (value >> 4) : value < 1 || value > 63)
        return false;
    }
    return true;
  }

  // A scan of components of the frame, each once and in the frame's order
  // (libjpeg finds them no other way), that fit libjpeg's MCU,
  // with its quantisation tables defined by its first scan and the
  // entropy tables it decodes with defined by then too. The inserted
  // standard tables count where the image has none before its first scan.
  bool readScan(const unsigned char* body, std::size_t length) {
    if (!frameRead_ || length < 1) return false;
    unsigned count = body[0];
    if (count < 1 || count > componentCount_ || length != 4 + 2 * count)
      return false;
    // A sequential frame whose first scan holds every component is that
    // one scan: libjpeg expects its EOI next.
    if (anyScan() && !multipleScans_) return false;
    if (!anyScan()) {
      multipleScans_ = progressive_ || count < componentCount_;
      if (!tablesBeforeScan_)
        for (auto& kind : huffmanDefined_) kind[0] = kind[1] = true;
    }
    const unsigned char* progression = body + 1 + 2 * count;
    unsigned start = progression[0], end = progression[1];
    unsigned high = progression[2] >> 4, low = progression[2] & 15;
    // libjpeg decodes a sequential scan whatever these say.
    if (progressive_ && !isProgression(count, start, end, high, low))
      return false;
    bool dcTables = !progressive_ || (start == 0 && high == 0);
    bool acTables = !progressive_ || start != 0;
    int previous = -1;
    unsigned blocks = 0;
    for (unsigned i = 0; i < count; ++i) {
      int index = indexOf(body[1 + 2 * i]);
      if (index <= previous) return false;
      previous = index;
      Component& component = components_[index];
      blocks += component.across * component.down;
      if (!component.scanned && !quantDefined_[component.quantTable])
        return false;
      component.scanned = true;
      unsigned tables = body[2 + 2 * i];
      if ((dcTables && !entropyDefined(0, tables >> 4)) ||
          (acTables && !entropyDefined(1, tables & 15)))
        return false;
    }
    if (count > 1 && blocks > MAX_BLOCKS_IN_MCU) return false;
    ++scans_;
    return true;
  }

  // The spectral selection and successive approximation of a progressive
  // scan: the DC band alone, or a band of AC coefficients of one
  // component; a refinement by one bit.
  static bool isProgression(unsigned count, unsigned start, unsigned end,
                            unsigned high, unsigned low) {
    bool band = start == 0 ? end == 0 : start <= end && end <= 63 && count == 1;
    return band && (high == 0 || low + 1 == high) && low <= 13;
  }

  // Arithmetic coding has conditioning for every table by default.
  bool entropyDefined(unsigned kind, unsigned table) const {
    return table < TABLES && (arithmetic_ || huffmanDefined_[kind][table]);
  }

  int indexOf(unsigned char id) const {
    for (unsigned i = 0; i < componentCount_; ++i)
      if (components_[i].id == id) return static_cast<int>(i);
    return -1;
  }

  static constexpr unsigned TABLES = 4;  // of each kind
  // The most blocks libjpeg takes in the MCU of a scan of several
  // components.
  static constexpr unsigned MAX_BLOCKS_IN_MCU = 10;

  bool frameRead_ = false;
  bool progressive_ = false, arithmetic_ = false;
  unsigned width_ = 0, height_ = 0;
  Component components_[3] = {};
  unsigned componentCount_ = 0;
  bool quantDefined_[TABLES] = {};
  bool huffmanDefined_[2][TABLES] = {};  // DC, AC
  bool tablesBeforeScan_ = false;
  bool multipleScans_ = false;
  unsigned scans_ = 0;
};

}  // namespace

std::optional<JpegLayout> jpegLayoutOf(const unsigned char* data,
                                       std::size_t size) {
  if (size < 4 || data[0] != MARKER || data[1] != SOI) return std::nullopt;
  HeaderReader header;
  std::size_t firstScan = 0;
  std::size_t at = 2;
  while (at + 1 < size) {
    if (data[at] != MARKER) return std::nullopt;
    unsigned char marker = data[at + 1];
    if (marker == MARKER) {  // fill byte
      ++at;
      continue;
    }
    if (marker == EOI) {
      if (!header.anyScan()) return std::nullopt;
      return JpegLayout{firstScan, at + 2, header.tablesBeforeScan(),
                        header.width(), header.height()};
    }
    if (standsAlone(marker)) {
      at += 2;
      continue;
    }
    if (at + 4 > size) return std::nullopt;
    std::size_t length = std::size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || at + 2 + length > size ||
        !header.read(marker, data + at + 4, length - 2))
      return std::nullopt;
    if (marker == SOS) {
      if (firstScan == 0) firstScan = at;
      at = pastScanData(data, size, at + 2 + length);
    } else {
      at += 2 + length;
    }
  }
  return std::nullopt;
}

std::optional<JpegLayout> cameraJpegLayout(const cv::Mat& frame, int width,
                                           int height) {
  if (!frame.isContinuous()) return std::nullopt;
  std::optional<JpegLayout> layout = jpegLayoutOf(
      frame.ptr<unsigned char>(), frame.total() * frame.elemSize());
  if (!layout || static_cast<int>(layout->width) != width ||
      static_cast<int>(layout->height) != height)
    return std::nullopt;
  return layout;
}

void completeJpeg(const unsigned char* data, const JpegLayout& layout,
                  cv::Mat& image) {
  std::size_t tables = layout.hasTables ? 0 : sizeof STANDARD_TABLES;
  image.create(1, static_cast<int>(layout.end + tables), CV_8UC1);
  unsigned char* out = image.ptr<unsigned char>();
  std::memcpy(out, data, layout.firstScan);
  std::memcpy(out + layout.firstScan, STANDARD_TABLES, tables);
  std::memcpy(out + layout.firstScan + tables, data + layout.firstScan,
              layout.end - layout.firstScan);
}
