#include "ui/preset_file.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/file_write.h"

namespace lumafex::ui {

const std::array<PresetTextSlot, 15> kPresetTextSlots = {{
    {0, kPassesEdit},
    {5, kBrightPercentEdit},
    {10, kRedPercentEdit},
    {15, kGreenPercentEdit},
    {20, kBluePercentEdit},
    {25, kGammaPercentEdit},
    {30, kContrastPercentEdit},
    {35, kNoisePercentEdit},
    {40, kEnhancePercentEdit},
    {45, kAntialiasThresholdEdit},
    {50, kAntialiasPercentEdit},
    {55, kPosterizePercentEdit},
    // 60..64 unused
    {65, kBlurPercentEdit},
    {70, kDOFBlurPercentEdit},
    {75, kFocalPointEdit},
}};

const std::array<PresetColourSlot, 6> kPresetColourSlots = {{
    {152, &FilterSettings::r1},
    {157, &FilterSettings::g1},
    {162, &FilterSettings::b1},
    {167, &FilterSettings::r2},
    {172, &FilterSettings::g2},
    {177, &FilterSettings::b2},
}};

const std::array<PresetSwitchSlot, 14> kPresetSwitchSlots = {{
    {84, kEnhanceCheck},
    {88, kAntialiasCheck},
    {92, kBlurCheck},
    {96, kSofterCheck},
    {100, kDOFBlurCheck},
    // 104 flip and 108 key prep have slots of their own
    {112, kBlackCheck},
    {116, kWhiteCheck},
    {120, kBlackAndWhiteCheck},
    {124, kNoiseCheck},
    {128, kNtscLimitCheck},
    // 132..135 unused
    {136, kNegativeCheck},
    {140, kPosterizeCheck},
    {144, kNegativeAlphaCheck},
    {148, kRangeAlphaCheck},
}};

void PutPresetText(PresetBytes bytes, std::size_t offset, const char* text) {
    uint8_t* slot = bytes.data() + offset;
    std::memset(slot, 0, kPresetTextSize);
    for (std::size_t i = 0; i < kPresetTextChars && text[i] != '\0'; ++i) {
        slot[i] = static_cast<uint8_t>(text[i]);
    }
}

void GetPresetText(ConstPresetBytes bytes, std::size_t offset, char (&out)[kPresetTextSize]) {
    const uint8_t* slot = bytes.data() + offset;
    std::size_t n = 0;
    while (n < kPresetTextChars && slot[n] != 0) {
        out[n] = static_cast<char>(slot[n]);
        ++n;
    }
    out[n] = '\0';
}

void PutPresetNumber(PresetBytes bytes, std::size_t offset, int32_t value) {
    if (value > 9999) value = 9999;
    if (value < -999) value = -999;
    char text[kPresetTextSize + 8];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    PutPresetText(bytes, offset, text);
}

void PutPresetInt(PresetBytes bytes, std::size_t offset, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetPresetInt(ConstPresetBytes bytes, std::size_t offset) {
    uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i) u |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return static_cast<int32_t>(u);  // modular conversion (C++20)
}

bool ReadPresetFile(const char* path, PresetBytes bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed && read == bytes.size();
}

bool WritePresetFile(const char* path, ConstPresetBytes bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return static_cast<bool>(platform::WriteFileWhole(path, data));
}

}  // namespace lumafex::ui
