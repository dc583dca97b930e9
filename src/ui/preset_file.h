// Preset files: a fixed 184-byte image of the settings dialog with no header.
// Numbers shown in edit boxes are stored as their text (at most 4 characters
// and a zero in 5 bytes), the switches as little-endian signed 32-bit
// integers, and the colour range as text made from the record. Bytes no slot
// uses are written as zero and ignored when read. Each slot's place is given
// by its field's row in ui/dialog_fields.h.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <cstdint>
#include <span>

#include "settings/filter_settings.h"
#include "ui/control_ids.h"
#include "ui/dialog_fields.h"

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

namespace preset_layout {

constexpr std::size_t CountSlots(PresetSlot kind) {
    std::size_t n = 0;
    for (const DialogField& row : kDialogFields) n += row.slot == kind ? 1 : 0;
    return n;
}

// The slots of one kind in file order, each made from its row.
template <typename Slot, PresetSlot Kind, typename Make>
consteval std::array<Slot, CountSlots(Kind)> Collect(Make make) {
    std::array<Slot, CountSlots(Kind)> sorted{};
    std::size_t n = 0;
    for (const DialogField& row : kDialogFields) {
        if (row.slot != Kind) continue;
        // Insertion by offset.
        std::size_t i = n++;
        for (; i > 0 && sorted[i - 1].offset > row.offset; --i) sorted[i] = sorted[i - 1];
        sorted[i] = make(row);
    }
    return sorted;
}

consteval std::size_t OffsetOf(int32_t FilterSettings::*member) {
    const DialogField& row = DialogFieldOf(member);
    if (row.slot != PresetSlot::ByHand) throw "the field is kept by its slot kind";
    return row.offset;
}

}  // namespace preset_layout

// The slots in file order.
inline constexpr auto kPresetTextSlots =
    preset_layout::Collect<PresetTextSlot, PresetSlot::Text>([](const DialogField& row) {
        return PresetTextSlot{row.offset, row.id};
    });
inline constexpr auto kPresetColourSlots =
    preset_layout::Collect<PresetColourSlot, PresetSlot::Record>([](const DialogField& row) {
        return PresetColourSlot{row.offset, row.member};
    });
inline constexpr auto kPresetSwitchSlots =
    preset_layout::Collect<PresetSwitchSlot, PresetSlot::Switch>([](const DialogField& row) {
        return PresetSwitchSlot{row.offset, row.id};
    });
// 32-bit values the controller reads from radios.
inline constexpr std::size_t kPresetFilterIncludeOffset =
    preset_layout::OffsetOf(&FilterSettings::FilterInclude);  // 0..4 as FilterInclude
inline constexpr std::size_t kPresetFlipOffset =
    preset_layout::OffsetOf(&FilterSettings::FlipFrameFlag);  // 0 off, 1 Horz, 2 Vert
inline constexpr std::size_t kPresetKeyPrepOffset =
    preset_layout::OffsetOf(&FilterSettings::KeyPrepFlag);  // 0 off, 1 B, 2 W

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

// The presets' file name extension, and path with it added when the file
// name has no extension of its own ("look" becomes "look.lmx", "look.v2"
// stays).
inline constexpr const char* kPresetExtension = ".lmx";
std::string WithPresetExtension(const std::string& path);

// Reads the first 184 bytes of the file. False when it cannot be opened or
// holds fewer bytes.
[[nodiscard]] bool ReadPresetFile(const char* path, PresetBytes bytes);

// Writes the 184 bytes whole or not at all (platform/file_write.h): an
// existing preset is replaced only by a complete one, and a read-only one is
// left alone. False on any failure.
[[nodiscard]] bool WritePresetFile(const char* path, ConstPresetBytes bytes);

}  // namespace lumafex::ui
