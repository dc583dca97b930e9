// Fuzz target for the settings dialog's preset files.
//
// Input: a preset image (the first 184 bytes; shorter inputs are padded
// with zeros). Each run shows the image in a dialog held in memory, closes
// it with OK and checks the record against a plain reading of the file
// layout written out here. It then saves the dialog as a preset, checks
// that the saved image is well formed, and shows the saved image in a fresh
// dialog: the record and a second save must come out the same.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/filter_settings.h"
#include "settings/settings_fields.h"
#include "support/memory_surface.h"
#include "ui/dialog_controller.h"
#include "ui/preset_file.h"

namespace {

using lumafex::FilterSettings;
using lumafex::ui::kPresetSize;
using Image = std::array<uint8_t, kPresetSize>;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "preset check failed: %s\n", what);
        std::abort();
    }
}

// The file layout: edit boxes as text in 5-byte slots, in this order.
struct TextField {
    std::size_t offset;
    int32_t FilterSettings::*field;
};
constexpr TextField kTextFields[] = {
    {0, &FilterSettings::Passes},
    {5, &FilterSettings::BrightPercent},
    {10, &FilterSettings::RedPercent},
    {15, &FilterSettings::GreenPercent},
    {20, &FilterSettings::BluePercent},
    {25, &FilterSettings::GammaPercent},
    {30, &FilterSettings::ContrastPercent},
    {35, &FilterSettings::NoisePercent},
    {40, &FilterSettings::SharpenPercent},
    {45, &FilterSettings::AntialiasVariance},
    {50, &FilterSettings::AntialiasPercent},
    {55, &FilterSettings::PosterizePercent},
    {65, &FilterSettings::BlurPercent},
    {70, &FilterSettings::DOFBlurPercent},
    {75, &FilterSettings::DOFBlurFocalPoint},
    {152, &FilterSettings::r1},
    {157, &FilterSettings::g1},
    {162, &FilterSettings::b1},
    {167, &FilterSettings::r2},
    {172, &FilterSettings::g2},
    {177, &FilterSettings::b2},
};
// Switches as little-endian 32-bit integers: any non-zero value is on.
struct SwitchField {
    std::size_t offset;
    int32_t FilterSettings::*field;
};
constexpr SwitchField kSwitchFields[] = {
    {84, &FilterSettings::SharpenFlag},        {88, &FilterSettings::SmoothFlag},
    {92, &FilterSettings::BlurFlag},           {100, &FilterSettings::DOFBlurFlag},
    {112, &FilterSettings::BlackFlag},         {116, &FilterSettings::WhiteFlag},
    {120, &FilterSettings::GreyFlag},          {124, &FilterSettings::NoiseFlag},
    {128, &FilterSettings::NegativeFlag},      {136, &FilterSettings::NegativeImageFlag},
    {140, &FilterSettings::CartoonFlag},       {144, &FilterSettings::ReverseAlphaFlag},
    {148, &FilterSettings::RangeAlphaFlag},
};
constexpr std::size_t kFilterInclude = 80, kSofter = 96, kFlip = 104, kKeyPrep = 108;
// Bytes no slot uses.
constexpr std::pair<std::size_t, std::size_t> kUnused[] = {{60, 65}, {132, 136}, {182, 184}};

std::string SlotText(const Image& image, std::size_t offset) {
    std::string text;
    for (std::size_t i = 0; i < 4 && image[offset + i] != 0; ++i) {
        text += static_cast<char>(image[offset + i]);
    }
    return text;
}

int32_t SlotInt(const Image& image, std::size_t offset) {
    uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i) u |= uint32_t{image[offset + i]} << (8 * i);
    return static_cast<int32_t>(u);
}

// A number as the C library reads it; at most 4 characters cannot overflow.
int32_t TextNumber(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

// The record a dialog holds after showing image and closing with OK.
struct Dialog {
    FilterSettings record{};
    int32_t useNulls = 0;
    lumafex::ui::CustomColourTable colours{};
    lumafex::testing::MemorySurface surface;

    Image ShowAndSave(const Image& image) {
        lumafex::ResetToDefaults(record);
        lumafex::ui::DialogModel model{};
        model.settings = &record;
        model.UseNulls = &useNulls;
        model.CustomColours = &colours;
        lumafex::ui::DialogController controller(surface, model);
        controller.Start();
        controller.ApplyPreset(image);
        controller.WriteBack();
        Image saved;
        saved.fill(0xA5);  // every byte must be written
        controller.StorePreset(saved);
        return saved;
    }
};

void CheckRecordReadsImage(const FilterSettings& r, const Image& image) {
    for (const TextField& t : kTextFields) {
        const int32_t v = TextNumber(SlotText(image, t.offset));
        Check(r.*t.field == (t.field == &FilterSettings::Passes ? std::min(v, 4) : v),
              "a number differs from its text");
    }
    for (const SwitchField& s : kSwitchFields) {
        Check(r.*s.field == (SlotInt(image, s.offset) != 0 ? 1 : 0), "a switch differs");
    }
    const int32_t softer = SlotInt(image, kSofter);
    Check(r.SofterBlurFlag == (softer == 2 ? 2 : softer != 0 ? 1 : 0), "softer differs");
    Check(r.SofterExtraFlag == (softer == 2 ? 1 : 0), "softer extra differs");
    const int32_t include = SlotInt(image, kFilterInclude);
    Check(r.FilterInclude == (include >= 0 && include <= 4 ? include : 3),
          "filters-should-affect differs");
    const int32_t flip = SlotInt(image, kFlip);
    Check(r.FlipFrameFlag == (flip == 0 ? 0 : flip == 1 ? 1 : 2), "flip differs");
    const int32_t key = SlotInt(image, kKeyPrep);
    Check(r.KeyPrepFlag == (key == 0 ? 0 : key == 1 ? 1 : 2), "key prep differs");
}

void CheckWellFormed(const Image& saved, const Image& shown) {
    for (const auto& [begin, end] : kUnused) {
        for (std::size_t i = begin; i < end; ++i) Check(saved[i] == 0, "an unused byte is set");
    }
    for (const TextField& t : kTextFields) {
        Check(saved[t.offset + 4] == 0, "a text slot has no zero");
        bool ended = false;
        for (std::size_t i = 0; i < 4; ++i) {
            ended = ended || saved[t.offset + i] == 0;
            Check(!ended || saved[t.offset + i] == 0, "a text slot has bytes after its zero");
        }
        const std::string text = SlotText(saved, t.offset);
        if (t.offset < 152) {
            Check(text == SlotText(shown, t.offset), "an edit box's text changed");
        } else {
            char printed[16];
            std::snprintf(printed, sizeof printed, "%d", static_cast<int>(TextNumber(text)));
            Check(text == printed, "a colour bound is not saved as its number");
        }
    }
    for (const SwitchField& s : kSwitchFields) {
        const int32_t v = SlotInt(saved, s.offset);
        Check(v == 0 || v == 1, "a switch is saved as neither 0 nor 1");
    }
    Check(SlotInt(saved, kSofter) >= 0 && SlotInt(saved, kSofter) <= 2, "softer out of range");
    Check(SlotInt(saved, kFilterInclude) >= 0 && SlotInt(saved, kFilterInclude) <= 4,
          "filters-should-affect out of range");
    Check(SlotInt(saved, kFlip) >= 0 && SlotInt(saved, kFlip) <= 2, "flip out of range");
    Check(SlotInt(saved, kKeyPrep) >= 0 && SlotInt(saved, kKeyPrep) <= 2, "key prep out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Image image{};
    std::memcpy(image.data(), data, std::min(size, kPresetSize));

    Dialog first;
    const Image saved = first.ShowAndSave(image);
    CheckRecordReadsImage(first.record, image);
    CheckWellFormed(saved, image);

    Dialog second;
    const Image again = second.ShowAndSave(saved);
    Check(std::memcmp(&first.record, &second.record, sizeof(FilterSettings)) == 0,
          "a saved preset loads as a different record");
    Check(saved == again, "a saved preset saves differently");
    return 0;
}
