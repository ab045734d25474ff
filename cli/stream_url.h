// Network stream URLs as a command line gives them: which arguments are
// URLs, and the secrets in them kept out of sight.
#pragma once

#include <optional>
#include <string>

// Whether text is a URL: a scheme ("rtsp", "srt", "rtmps", ...) followed by
// "://".
bool isUrl(const char* text);

// The local path a file:// URL names (file:///path or
// file://localhost/path, its %-escapes decoded), or nothing when text is
// no such URL.
std::optional<std::string> fileUrlPath(const char* text);

// Whether what url names may be a file that states its length, read like
// one (http:// and https://), rather than always a live stream.
bool mayNameFile(const char* url);

// url with its secrets shown as ***: a password (user:PASSWORD@, taken
// to run to the last @ where an @ stands beyond the host), the values of
// query parameters whose names speak of a secret (password, pwd, token,
// key, secret, auth, signature and the like) and an RTMP URL's stream key
// (the last part of a path of two parts or more).
std::string withoutSecrets(const char* url);

// Overwrites the secrets in argument in place, so that what others see of
// the process's command line shows *** instead (or as many *s as a secret
// has, where that is shorter).
void hideSecrets(char* argument);
