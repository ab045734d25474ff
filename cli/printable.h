// Names as pellux prints them: control characters written out, so that no
// file name or URL can move the cursor, set a terminal's title or forge a
// line of its own.
#pragma once

#include <string>

// text with each control character (below 0x20, and 0x7f) written as \n,
// \t, \r or \x and two hex digits, as in \x1b; the rest as it is.
std::string printable(const std::string& text);
