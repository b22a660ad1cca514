// Numbers as the debugger's files read and write them (the symbol files, the breakpoint text).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "0x0012" with at least digits hex digits.
std::string HexText(uint32_t value, int digits);

// "0x1234", "$1234" and "1234H" are hexadecimal; bare digits are in bare_base (10 or 16). Spaces
// around pass. False for anything else, or above max.
bool ParseNumber(std::string_view text, int bare_base, uint32_t max, uint32_t& out);
