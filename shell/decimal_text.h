// Decimal text to a signed 32-bit number, the way the Config dialog reads its Waitstates field.
#pragma once

#include <cstdint>

// Leading white space is skipped, then an optional "+" or "-", then digits up to the first
// non-digit; no digits gives 0. A value outside the 32-bit range saturates at INT32_MIN or
// INT32_MAX, as strtol does with a 32-bit long.
int32_t DecimalTextToInt(const char* text);
