#include "settings/settings_fields.h"

#include <cstring>

namespace lumafex {

#define LUMAFEX_FIELD(name, inScene, value, meaning) \
    SettingsField{#name, &FilterSettings::name, inScene, value, meaning}

const std::array<SettingsField, kFilterSettingsFieldCount> kSettingsFields = {{
    LUMAFEX_FIELD(Passes, true, 1, "enhance/antialias passes (reset to 1 every frame)"),
    LUMAFEX_FIELD(RedPercent, true, 100, "red gain, percent"),
    LUMAFEX_FIELD(GreenPercent, true, 100, "green gain, percent"),
    LUMAFEX_FIELD(BluePercent, true, 100, "blue gain, percent"),
    LUMAFEX_FIELD(BrightPercent, true, 100, "brightness gain, percent"),
    LUMAFEX_FIELD(FilterInclude, true, 3,
                  "filters affect: 0 objects, 1 background, 2 shadows, 3 full frame, 4 colour range"),
    LUMAFEX_FIELD(SharpenFlag, true, 0, "enhance (sharpen) on"),
    LUMAFEX_FIELD(SharpenPercent, true, 100, "enhance strength, percent"),
    LUMAFEX_FIELD(SmoothFlag, true, 0, "antialias on"),
    LUMAFEX_FIELD(AntialiasVariance, true, 100, "antialias T; threshold is 200 minus T"),
    LUMAFEX_FIELD(AntialiasPercent, true, 100, "antialias strength, percent"),
    LUMAFEX_FIELD(PosterizePercent, false, 100, "posterize strength; step is half of it, 0..200"),
    LUMAFEX_FIELD(BlurFlag, true, 0, "blur on"),
    LUMAFEX_FIELD(SofterBlurFlag, true, 0, "softer blur: 0 normal, 1 softer, 2 softer extra"),
    LUMAFEX_FIELD(BlurPercent, true, 100, "blur strength, percent"),
    LUMAFEX_FIELD(DOFBlurFlag, true, 0, "depth-of-field blur on"),
    LUMAFEX_FIELD(DOFBlurPercent, true, 100, "depth-of-field blur gain, percent"),
    LUMAFEX_FIELD(DOFBlurFocalPoint, true, 100, "focal distance, scene units"),
    LUMAFEX_FIELD(GammaPercent, true, 100, "gamma, percent"),
    LUMAFEX_FIELD(ContrastPercent, true, 100, "contrast, percent"),
    LUMAFEX_FIELD(NoisePercent, true, 100, "noise amount, percent"),
    LUMAFEX_FIELD(FlipFrameFlag, true, 0, "flip: 0 off, 1 horizontal, 2 vertical"),
    LUMAFEX_FIELD(KeyPrepFlag, true, 0, "key prep: 0 off, 1 black (B), 2 white (W)"),
    LUMAFEX_FIELD(BlackFlag, true, 0, "100% black key on"),
    LUMAFEX_FIELD(WhiteFlag, true, 0, "100% white key on"),
    LUMAFEX_FIELD(GreyFlag, true, 0, "black and white on"),
    LUMAFEX_FIELD(NoiseFlag, true, 0, "noise on"),
    LUMAFEX_FIELD(NegativeFlag, true, 0, "NTSC (broadcast) limit on"),
    LUMAFEX_FIELD(SofterExtraFlag, false, 0, "skip the softer blur over the frame"),
    LUMAFEX_FIELD(NegativeImageFlag, true, 0, "negative image on"),
    LUMAFEX_FIELD(CartoonFlag, true, 0, "posterize on"),
    LUMAFEX_FIELD(ReverseAlphaFlag, true, 0, "negative alpha on"),
    LUMAFEX_FIELD(RangeAlphaFlag, true, 0, "range alpha on"),
    LUMAFEX_FIELD(r1, true, 0, "colour range: low red"),
    LUMAFEX_FIELD(g1, true, 0, "colour range: low green"),
    LUMAFEX_FIELD(b1, true, 192, "colour range: low blue"),
    LUMAFEX_FIELD(r2, true, 96, "colour range: high red"),
    LUMAFEX_FIELD(g2, true, 96, "colour range: high green"),
    LUMAFEX_FIELD(b2, true, 255, "colour range: high blue"),
}};

#undef LUMAFEX_FIELD

const SettingsField* FindSettingsField(const char* name) {
    for (const SettingsField& field : kSettingsFields) {
        if (std::strcmp(field.name, name) == 0) return &field;
    }
    return nullptr;
}

void ResetToDefaults(FilterSettings& settings) {
    for (const SettingsField& field : kSettingsFields) {
        settings.*field.member = field.defaultValue;
    }
}

}  // namespace lumafex
