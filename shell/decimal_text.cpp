#include "shell/decimal_text.h"

#include <limits>

int32_t DecimalTextToInt(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // The magnitude is collected as a 64-bit value and stops growing once past the 32-bit range.
    constexpr int64_t Limit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (magnitude <= Limit) magnitude = magnitude * 10 + (*p - '0');
    if (negative)
        return magnitude >= Limit ? std::numeric_limits<int32_t>::min() : int32_t(-magnitude);
    return magnitude >= Limit ? std::numeric_limits<int32_t>::max() : int32_t(magnitude);
}
