#include "cli/printable.h"

#include <cstdio>

namespace {

// The length of the UTF-8 sequence that starts text at at, and the code
// point it gives; 0 when no whole sequence starts there.
std::size_t utf8At(const std::string& text, std::size_t at,
                   unsigned& codePoint) {
  unsigned char first = static_cast<unsigned char>(text[at]);
  std::size_t length = first < 0x80           ? 1
                       : (first >> 5) == 0x6  ? 2
                       : (first >> 4) == 0xE  ? 3
                       : (first >> 3) == 0x1E ? 4
                                              : 0;
  if (length == 0 || at + length > text.size()) return 0;
  codePoint = length == 1 ? first : first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next >> 6) != 0x2) return 0;
    codePoint = codePoint << 6 | (next & 0x3F);
  }
  return length;
}

void escape(unsigned value, const char* form, std::string& shown) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, form, value);
  shown += escaped;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    unsigned codePoint = 0;
    std::size_t length = utf8At(text, at, codePoint);
    if (length == 0) {
      // Not UTF-8: a terminal in an 8-bit mode may take it for a control.
      escape(static_cast<unsigned char>(text[at]), "\\x%02x", shown);
      ++at;
      continue;
    }
    if (codePoint == '\n') {
      shown += "\\n";
    } else if (codePoint == '\t') {
      shown += "\\t";
    } else if (codePoint == '\r') {
      shown += "\\r";
    } else if (codePoint < 0x20 || codePoint == 0x7F) {
      escape(codePoint, "\\x%02x", shown);
    } else if (codePoint >= 0x80 && codePoint < 0xA0) {
      escape(codePoint, "\\u%04x", shown);  // C1 controls, as CSI
    } else {
      shown.append(text, at, length);
    }
    at += length;
  }
  return shown;
}
