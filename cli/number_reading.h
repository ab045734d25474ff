// Reading whole numbers from command-line text, by atoi rules.
#pragma once

#include <cstdint>

// Leading blanks, an optional sign, digits; the rest is ignored and text
// with no number in front reads as 0. Values outside the 32-bit range
// saturate to INT32_MIN or INT32_MAX.
int32_t readInteger(const char* text);
