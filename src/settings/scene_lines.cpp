#include "settings/scene_lines.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "settings/settings_fields.h"

namespace lumafex {

namespace {

// White space as the "C" locale knows it, whatever locale the host process
// has set, so a scene reads the same everywhere.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the next line into buffer, always zero-terminated within it.
// False at the end of the block.
[[nodiscard]] bool ReadLine(const LoadState& state, char (&buffer)[kSceneLineSize]) {
    if (state.readLine == nullptr) return false;
    std::memset(buffer, 0, sizeof buffer);
    const int32_t stored = state.readLine(state.context, buffer, kSceneLineSize);
    if (stored < 0) return false;
    // A line as long as the buffer is cut to leave room for the terminator.
    buffer[stored < kSceneLineSize ? stored : kSceneLineSize - 1] = '\0';
    return true;
}

// The value of a "Key value" line, read as "%*s %d" reads it: skip white
// space and the first word, then a signed decimal integer after optional
// white space. Values beyond the 32-bit range saturate at its ends.
std::optional<int32_t> LineValue(const char* line) {
    const char* p = line;
    while (*p != '\0' && IsSpace(*p)) ++p;
    if (*p == '\0') return std::nullopt;  // no key at all
    while (*p != '\0' && !IsSpace(*p)) ++p;
    while (*p != '\0' && IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!IsDigit(*p)) return std::nullopt;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kMax + 1) magnitude = kMax + 1;  // saturated; keep reading digits
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > kMax) return static_cast<int32_t>(kMax);
    if (value < kMin) return static_cast<int32_t>(kMin);
    return static_cast<int32_t>(value);
}

void WriteLine(const SaveState& state, const char* key, int32_t value) {
    char buffer[kSceneLineSize] = {};
    std::snprintf(buffer, sizeof buffer, "%s %d", key, static_cast<int>(value));
    state.writeLine(state.context, buffer, kSceneLineSize);
}

}  // namespace

void SaveSceneLines(const FilterSettings& settings, const SaveState& state) {
    if (state.writeLine == nullptr) return;
    WriteLine(state, "Version", 1);
    for (const SettingsField& field : kSettingsFields) {
        if (field.inScene) WriteLine(state, field.name, settings.*field.member);
    }
}

void LoadSceneLines(FilterSettings& settings, const LoadState& state) {
    char line[kSceneLineSize];
    if (!ReadLine(state, line)) return;
    // Blocks without a version line carry one more line before the values.
    // The ninth character counts only when the line reaches it: whatever a
    // host leaves after the terminator is not part of the line.
    const bool versionLine =
        line[0] == 'V' || (std::strlen(line) > 8 && line[8] == '1');
    if (!versionLine && !ReadLine(state, line)) return;

    for (const SettingsField& field : kSettingsFields) {
        if (!field.inScene) continue;
        if (!ReadLine(state, line)) return;  // the rest keep their values
        if (const std::optional<int32_t> value = LineValue(line)) {
            settings.*field.member = *value;
        }
        if (field.member == &FilterSettings::SofterBlurFlag) {
            // The third state of "Softer" latches the extra flag; any other
            // state clears it, so the softer blur comes back when it is
            // switched on normally again.
            settings.SofterExtraFlag = settings.SofterBlurFlag == 2 ? 1 : 0;
        }
    }
}

}  // namespace lumafex
