#include "cli/stream_url.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr const char* STREAM_SCHEMES[] = {"rtsp", "rtsps", "rtmp", "srt",
                                          "udp",  "tcp",   "http", "https"};

bool hasScheme(const char* text, const char* scheme) {
  size_t length = std::strlen(scheme);
  return strncasecmp(text, scheme, length) == 0 &&
         std::strncmp(text + length, "://", 3) == 0;
}

// Where the password of url starts and how long it is; length 0 when it
// has none. The password is what follows the first colon of the user
// part, which ends at the host's @: the last one before the path.
struct Span {
  size_t start;
  size_t length;
};

// The last @ in [from, to), or null.
const char* lastAt(const char* from, const char* to) {
  const char* at = nullptr;
  for (const char* c = from; c < to; ++c)
    if (*c == '@') at = c;
  return at;
}

Span passwordOf(const char* url) {
  const char* authority = std::strstr(url, "://");
  if (authority == nullptr) return {0, 0};
  authority += 3;
  const char* colon = authority + std::strcspn(authority, ":/?#");
  if (*colon != ':') return {0, 0};
  const char* at = lastAt(colon, authority + std::strcspn(authority, "/?#"));
  // A password with a / ? or # left as it is cannot be told from the path:
  // it is taken to end at the next @, rather than shown.
  if (at == nullptr) at = std::strchr(colon, '@');
  if (at == nullptr) return {0, 0};
  return {static_cast<size_t>(colon + 1 - url),
          static_cast<size_t>(at - colon - 1)};
}

}  // namespace

bool isStreamUrl(const char* text) {
  for (const char* scheme : STREAM_SCHEMES)
    if (hasScheme(text, scheme)) return true;
  return false;
}

bool mayNameFile(const char* url) {
  return hasScheme(url, "http") || hasScheme(url, "https");
}

std::string withoutPassword(const char* url) {
  std::string shown = url;
  Span password = passwordOf(url);
  if (password.length > 0)
    shown.replace(password.start, password.length, "***");
  return shown;
}

void hidePassword(char* argument) {
  Span password = passwordOf(argument);
  if (password.length == 0) return;
  std::string shown = withoutPassword(argument);
  size_t length = std::strlen(argument);
  if (shown.size() > length) {
    std::memset(argument + password.start, '*', password.length);
    return;
  }
  // What is left past the shorter text is cleared, so that no tail of the
  // password stays in the process's memory of its arguments.
  std::memcpy(argument, shown.c_str(), shown.size());
  std::memset(argument + shown.size(), '\0', length - shown.size());
}
