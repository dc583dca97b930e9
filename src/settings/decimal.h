// The one rule by which text becomes a stored number, for scene lines and
// the dialog's boxes alike: optional white space (as the "C" locale knows
// it, whatever locale the host has set), an optional sign, then decimal
// digits up to the first non-digit. Values beyond the signed 32-bit range
// saturate at its ends.
#pragma once

#include <cstdint>
#include <optional>

namespace lumafex {

// White space as the "C" locale knows it.
constexpr bool IsDecimalSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The number text starts with; no value when no digit follows the sign.
// Stops at the first character after the digits; next, when given, is set
// to it (to text itself when there is no number).
std::optional<int32_t> ParseSaturatedDecimal(const char* text, const char** next = nullptr);

}  // namespace lumafex
