// The one settings record of the module: 39 signed 32-bit fields named after
// their scene keys. Every instance, the dialog and every frame share it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumafex {

struct FilterSettings {
    int32_t Passes;             // enhance/antialias passes; 1 at every frame start
    int32_t RedPercent;         // red gain, percent
    int32_t GreenPercent;       // green gain, percent
    int32_t BluePercent;        // blue gain, percent
    int32_t BrightPercent;      // brightness gain, percent
    int32_t FilterInclude;      // "Filters Should Affect": 0 objects .. 4 colour range
    int32_t SharpenFlag;        // enhance on
    int32_t SharpenPercent;     // enhance strength
    int32_t SmoothFlag;         // antialias on
    int32_t AntialiasVariance;  // antialias "T"; threshold is 200 minus this
    int32_t AntialiasPercent;   // antialias strength
    int32_t PosterizePercent;   // posterize strength (no scene key)
    int32_t BlurFlag;           // blur on
    int32_t SofterBlurFlag;     // 0 normal, 1 softer, 2 softer with SofterExtraFlag
    int32_t BlurPercent;        // blur strength
    int32_t DOFBlurFlag;        // depth-of-field blur on
    int32_t DOFBlurPercent;     // depth-of-field blur gain
    int32_t DOFBlurFocalPoint;  // focal distance, scene units
    int32_t GammaPercent;       // gamma, percent
    int32_t ContrastPercent;    // contrast, percent
    int32_t NoisePercent;       // noise amount
    int32_t FlipFrameFlag;      // 0 off, 1 horizontal, 2 vertical
    int32_t KeyPrepFlag;        // 0 off, 1 black ("B"), 2 white ("W")
    int32_t BlackFlag;          // "100% Black" key
    int32_t WhiteFlag;          // "100% White" key
    int32_t GreyFlag;           // black and white
    int32_t NoiseFlag;          // noise on
    int32_t NegativeFlag;       // broadcast (NTSC) limit on
    int32_t SofterExtraFlag;    // skip the softer blur over the frame (no scene key)
    int32_t NegativeImageFlag;  // negative image on
    int32_t CartoonFlag;        // posterize on
    int32_t ReverseAlphaFlag;   // negative alpha on
    int32_t RangeAlphaFlag;     // range alpha on
    int32_t r1;                 // low corner of the colour range
    int32_t g1;
    int32_t b1;
    int32_t r2;                 // high corner of the colour range
    int32_t g2;
    int32_t b2;
};

inline constexpr std::size_t kFilterSettingsFieldCount = 39;
static_assert(sizeof(FilterSettings) == kFilterSettingsFieldCount * sizeof(int32_t),
              "the record is 39 packed 32-bit fields");
static_assert(offsetof(FilterSettings, b2) == 38 * 4);

// The most enhance/antialias passes a frame runs: the dialog and the
// "3AntialiasPasses" null channel both stop there, so no setting can make
// one frame run for days.
inline constexpr int32_t kMaxPasses = 4;

// Writes the create defaults into the record. SofterExtraFlag and
// ReverseAlphaFlag are reset to 0 too, so a new instance never inherits an
// earlier one's negative alpha or softer-blur latch.
void ResetToDefaults(FilterSettings& settings);

// The high/low colour-range test: every bound inclusive, signed comparisons
// of the byte values with the fields as they stand.
inline bool InColorRange(const FilterSettings& s, int32_t red, int32_t green, int32_t blue) {
    return s.r1 <= red && red <= s.r2 && s.g1 <= green && green <= s.g2 && s.b1 <= blue &&
           blue <= s.b2;
}

}  // namespace lumafex
