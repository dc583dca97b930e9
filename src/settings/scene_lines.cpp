#include "settings/scene_lines.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "settings/decimal.h"
#include "settings/settings_fields.h"

namespace lumafex {

namespace {

// Reads the next line into buffer, always zero-terminated within it.
// False at the end of the block.
[[nodiscard]] bool ReadLine(LineSource& source, char (&buffer)[kSceneLineSize]) {
    std::memset(buffer, 0, sizeof buffer);
    const int32_t stored = source.ReadLine(buffer, kSceneLineSize);
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
    while (*p != '\0' && IsDecimalSpace(*p)) ++p;
    if (*p == '\0') return std::nullopt;  // no key at all
    while (*p != '\0' && !IsDecimalSpace(*p)) ++p;
    while (*p != '\0' && IsDecimalSpace(*p)) ++p;
    return ParseSaturatedDecimal(p);
}

void WriteLine(LineSink& sink, const char* key, int32_t value) {
    char buffer[kSceneLineSize] = {};
    std::snprintf(buffer, sizeof buffer, "%s %d", key, static_cast<int>(value));
    sink.WriteLine(buffer, kSceneLineSize);
}

}  // namespace

void SaveSceneLines(const FilterSettings& settings, LineSink& sink) {
    WriteLine(sink, "Version", 1);
    for (const SettingsField& field : kSettingsFields) {
        if (field.inScene) WriteLine(sink, field.name, settings.*field.member);
    }
}

void LoadSceneLines(FilterSettings& settings, LineSource& source) {
    char line[kSceneLineSize];
    if (!ReadLine(source, line)) return;
    // Blocks without a version line carry one more line before the values.
    // The ninth character counts only when the line reaches it: whatever a
    // host leaves after the terminator is not part of the line.
    const bool versionLine =
        line[0] == 'V' || (std::strlen(line) > 8 && line[8] == '1');
    if (!versionLine && !ReadLine(source, line)) return;

    for (const SettingsField& field : kSettingsFields) {
        if (!field.inScene) continue;
        if (!ReadLine(source, line)) return;  // the rest keep their values
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
