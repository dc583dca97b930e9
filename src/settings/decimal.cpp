#include "settings/decimal.h"

#include <limits>

namespace lumafex {

std::optional<int32_t> ParseSaturatedDecimal(const char* text, const char** next) {
    const char* p = text;
    while (IsDecimalSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') {
        if (next != nullptr) *next = text;
        return std::nullopt;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kLimit) magnitude = kLimit;  // saturated; more digits keep it there
    }
    if (next != nullptr) *next = p;
    if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 at the limit
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::max()
                               : static_cast<int32_t>(magnitude);
}

}  // namespace lumafex
