#include "cli/stream_url.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr char HIDDEN[] = "***";

// Parts of query parameter names that speak of a secret: password, passwd,
// passphrase, pwd, token, access_token, key, apikey, secret, auth,
// signature, sig...
constexpr const char* SECRET_NAMES[] = {"pass",   "pwd",  "token", "key",
                                        "secret", "auth", "sig"};

// Where a secret starts in a URL and how long it is.
struct Span {
  std::size_t start;
  std::size_t length;
};

// The length of text's scheme and its "://", or 0 when it has none.
std::size_t schemeLength(const char* text) {
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
  std::size_t length = 1;
  while (std::isalnum(static_cast<unsigned char>(text[length])) ||
         text[length] == '+' || text[length] == '-' || text[length] == '.')
    ++length;
  return std::strncmp(text + length, "://", 3) == 0 ? length + 3 : 0;
}

bool hasScheme(const char* text, const char* scheme) {
  std::size_t length = std::strlen(scheme);
  return strncasecmp(text, scheme, length) == 0 &&
         std::strncmp(text + length, "://", 3) == 0;
}

bool isPort(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The password: what follows the first colon of the user part up to the
// @ that ends it. A password typed with a / ? or # left as it is cannot be
// told from what follows the host, so it is taken to run to the last @ of
// the URL: showing too little of a URL is better than a piece of a
// password.
std::optional<Span> passwordOf(const std::string& url, std::size_t rest) {
  std::size_t lastAt = url.rfind('@');
  if (lastAt == std::string::npos || lastAt < rest) return std::nullopt;
  std::size_t authorityEnd = url.find_first_of("/?#", rest);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();
  std::size_t colon = url.find(':', rest);
  if (colon == std::string::npos || colon > lastAt) return std::nullopt;
  std::size_t authorityAt = url.rfind('@', authorityEnd - 1);
  bool hasUser = authorityAt != std::string::npos && authorityAt >= rest &&
                 authorityAt < authorityEnd;
  std::size_t end = lastAt;
  if (!hasUser) {
    if (colon > authorityEnd) return std::nullopt;
    // No user part as the URL reads: the colon is a port's, unless what
    // follows it is no port. An @ in the path after a port may still end a
    // password with a / in it; one in the query is the query's.
    if (isPort(url.substr(colon + 1, authorityEnd - colon - 1))) {
      std::size_t queryAt = url.find_first_of("?#", authorityEnd);
      end = url.rfind(
          '@', queryAt == std::string::npos ? std::string::npos : queryAt);
      if (end == std::string::npos || end < authorityEnd ||
          (queryAt != std::string::npos && end > queryAt))
        return std::nullopt;
    }
  } else if (colon > authorityAt) {
    return std::nullopt;  // a user without a password, then a port
  }
  if (end <= colon + 1) return std::nullopt;
  return Span{colon + 1, end - colon - 1};
}

bool namesSecret(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(c));
  for (const char* secret : SECRET_NAMES)
    if (name.find(secret) != std::string::npos) return true;
  return false;
}

// The values of the query's parameters that name a secret.
void querySecrets(const std::string& url, std::size_t rest,
                  std::vector<Span>& spans) {
  std::size_t query = url.find('?', rest);
  if (query == std::string::npos) return;
  // To its end: some protocols (srt) read a # as part of a value.
  std::size_t end = url.size();
  for (std::size_t at = query + 1; at < end;) {
    std::size_t next = url.find_first_of("&;", at);
    if (next == std::string::npos || next > end) next = end;
    std::size_t equals = url.find('=', at);
    if (equals != std::string::npos && equals < next && next > equals + 1 &&
        namesSecret(url.substr(at, equals - at)))
      spans.push_back({equals + 1, next - equals - 1});
    at = next + 1;
  }
}

// An RTMP URL's path is its application and then the stream's name, which
// for a live stream is its key.
void streamKey(const std::string& url, std::size_t rest,
               std::vector<Span>& spans) {
  if (strncasecmp(url.c_str(), "rtmp", 4) != 0) return;
  std::size_t path = url.find('/', rest);
  if (path == std::string::npos) return;
  std::size_t end = url.find_first_of("?#", path);
  if (end == std::string::npos) end = url.size();
  while (end > path + 1 && url[end - 1] == '/') --end;  // a trailing slash
  std::size_t last = url.rfind('/', end - 1);
  if (last == path || last + 1 >= end) return;  // one part: the application
  spans.push_back({last + 1, end - last - 1});
}

// The secrets of url, in order and apart from each other.
std::vector<Span> secretsOf(const std::string& url) {
  std::size_t rest = schemeLength(url.c_str());
  std::vector<Span> spans;
  if (rest == 0) return spans;
  if (std::optional<Span> password = passwordOf(url, rest))
    spans.push_back(*password);
  querySecrets(url, rest, spans);
  streamKey(url, rest, spans);
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.start < b.start; });
  std::vector<Span> apart;
  for (const Span& span : spans) {
    if (!apart.empty() &&
        span.start < apart.back().start + apart.back().length) {
      std::size_t end = std::max(apart.back().start + apart.back().length,
                                 span.start + span.length);
      apart.back().length = end - apart.back().start;
      continue;
    }
    apart.push_back(span);
  }
  return apart;
}

}  // namespace

bool isUrl(const char* text) { return schemeLength(text) > 0; }

std::optional<std::string> fileUrlPath(const char* text) {
  if (!hasScheme(text, "file")) return std::nullopt;
  std::string rest = text + std::strlen("file://");
  // The host, where there is one, is this machine's.
  if (strncasecmp(rest.c_str(), "localhost/", 10) == 0) rest.erase(0, 9);
  if (rest.empty() || rest[0] != '/') return std::nullopt;
  std::string path;
  for (std::size_t at = 0; at < rest.size(); ++at) {
    if (rest[at] == '%' && at + 2 < rest.size() &&
        std::isxdigit(static_cast<unsigned char>(rest[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(rest[at + 2]))) {
      path += static_cast<char>(std::stoi(rest.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      path += rest[at];
    }
  }
  return path;
}

bool mayNameFile(const char* url) {
  return hasScheme(url, "http") || hasScheme(url, "https");
}

std::string withoutSecrets(const char* url) {
  std::string shown = url;
  std::vector<Span> spans = secretsOf(shown);
  for (auto span = spans.rbegin(); span != spans.rend(); ++span)
    shown.replace(span->start, span->length, HIDDEN);
  return shown;
}

void hideSecrets(char* argument) {
  std::vector<Span> spans = secretsOf(argument);
  if (spans.empty()) return;
  std::string shown = withoutSecrets(argument);
  std::size_t length = std::strlen(argument);
  if (shown.size() > length) {
    for (const Span& span : spans)
      std::memset(argument + span.start, '*', span.length);
    return;
  }
  // What is left past the shorter text is cleared, so that no tail of a
  // secret stays in the process's memory of its arguments.
  std::memcpy(argument, shown.c_str(), shown.size());
  std::memset(argument + shown.size(), '\0', length - shown.size());
}
