// Preset files: a fixed 184-byte image of the settings dialog with no header.
// Numbers shown in edit boxes are stored as their text (at most 4 characters
// and a zero in 5 bytes), the switches as little-endian signed 32-bit
// integers, and the colour range as text made from the record. Bytes no slot
// uses are written as zero and ignored when read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "settings/filter_settings.h"
#include "ui/control_ids.h"

namespace lumafex::ui {

inline constexpr std::size_t kPresetSize = 184;
inline constexpr std::size_t kPresetTextSize = 5;   // a text slot's bytes
inline constexpr std::size_t kPresetTextChars = 4;  // characters it keeps

using PresetBytes = std::span<uint8_t, kPresetSize>;
using ConstPresetBytes = std::span<const uint8_t, kPresetSize>;

// An edit box stored as its text.
struct PresetTextSlot {
    std::size_t offset;
    ControlId edit;
};
// A colour-range bound stored as text.
struct PresetColourSlot {
    std::size_t offset;
    int32_t FilterSettings::*bound;
};
// A check box stored as a 32-bit switch.
struct PresetSwitchSlot {
    std::size_t offset;
    ControlId check;
};

// The slots in file order.
extern const std::array<PresetTextSlot, 15> kPresetTextSlots;
extern const std::array<PresetColourSlot, 6> kPresetColourSlots;
extern const std::array<PresetSwitchSlot, 14> kPresetSwitchSlots;
inline constexpr std::size_t kPresetFilterIncludeOffset = 80;  // 0..4 as FilterInclude
inline constexpr std::size_t kPresetFlipOffset = 104;          // 0 off, 1 Horz, 2 Vert
inline constexpr std::size_t kPresetKeyPrepOffset = 108;       // 0 off, 1 B, 2 W

// A text slot holds the first 4 characters of text and a zero.
void PutPresetText(PresetBytes bytes, std::size_t offset, const char* text);
// The slot's text up to its zero; a slot without a zero gives its first 4
// characters. out always ends with a zero.
void GetPresetText(ConstPresetBytes bytes, std::size_t offset, char (&out)[kPresetTextSize]);

// A number as preset text. Values that need more than 4 characters are
// limited to -999..9999 so the text stays a number close to the value.
void PutPresetNumber(PresetBytes bytes, std::size_t offset, int32_t value);

void PutPresetInt(PresetBytes bytes, std::size_t offset, int32_t value);
int32_t GetPresetInt(ConstPresetBytes bytes, std::size_t offset);

// Reads the first 184 bytes of the file. False when it cannot be opened or
// holds fewer bytes.
[[nodiscard]] bool ReadPresetFile(const char* path, PresetBytes bytes);

// Writes the 184 bytes whole or not at all (platform/file_write.h): an
// existing preset is replaced only by a complete one, and a read-only one is
// left alone. False on any failure.
[[nodiscard]] bool WritePresetFile(const char* path, ConstPresetBytes bytes);

}  // namespace lumafex::ui
