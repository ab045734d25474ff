// Network stream URLs as a command line gives them: which arguments are
// streams, and the passwords in them kept out of sight.
#pragma once

#include <string>

// Whether text is the URL of a network stream, or of a file on a web
// server: rtsp://, rtsps://, rtmp://, srt://, udp://, tcp://, http:// or
// https://, in any case.
bool isStreamUrl(const char* text);

// Whether what url names may be a file that states its length, read like
// one (http:// and https://), rather than always a live stream.
bool mayNameFile(const char* url);

// url with its password, if it has one, shown as ***.
std::string withoutPassword(const char* url);

// Overwrites the password in argument, in place, so that what others see
// of the process's command line shows *** instead (or as many *s as the
// password has, when it is shorter).
void hidePassword(char* argument);
