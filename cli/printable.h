// Names as pellux prints them: control characters written out, so that no
// file name or URL can move the cursor, set a terminal's title or forge a
// line of its own.
#pragma once

#include <string>

// text with each control character written out: below 0x20 and 0x7f as
// \n, \t, \r or \x and two hex digits (\x1b), the C1 controls as \u and
// four (\u009b), and each byte that is no part of UTF-8 as \x and two; the
// rest as it is.
std::string printable(const std::string& text);
