// One row per field of the settings record that the dialog shows, saves in
// a preset or sets: its record member, the control that shows it and how the
// controller moves it between the two, where a preset keeps it, and for a
// number box what it may hold and what its tooltip says. The controller's
// Start and WriteBack, the preset layout, the number checks, the tooltips,
// both bindings' typing rules and the Qt dialog's captions all read these
// rows; only the fields no row can describe are written out by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "settings/filter_settings.h"
#include "ui/control_ids.h"

namespace lumafex::ui {

// How Start and WriteBack move a field between the record and its control.
enum class FieldControl : uint8_t {
    NumberBox,  // an edit box holding the value as decimal text
    CheckBox,   // a two-state box: checked for any non-zero value, read back as 0 or 1
    ByHand,     // the controller's own code: three-state boxes, radios, the hidden passes box
    None,       // no control: the colour range, which the colour choosers set
};

// How a preset keeps a field.
enum class PresetSlot : uint8_t {
    None,    // not kept
    Text,    // the edit box's text: 4 characters and a zero
    Switch,  // the check box as a 32-bit 0 or 1, 2 for a third state
    Record,  // the record's value as text: 4 characters and a zero
    ByHand,  // a 32-bit value the controller reads from its radios
};

struct DialogField {
    int32_t FilterSettings::*member;
    FieldControl control;
    ControlId id;         // the edit or check box, or 0
    ControlId label;      // the edit box's label, or 0
    PresetSlot slot;
    std::size_t offset;   // of the slot in the preset
    const char* caption;  // the control's (or label's) text, mnemonic marked with '&'
    const char* name;     // a number box's name in messages, or null for other rows
    int32_t min;          // a number box's range; the record takes nothing outside it
    int32_t max;
    const char* meaning;     // the tooltip: what the control does, and its unit
    const char* nullObject;  // the null object that drives the control, or null
    // Within min to max, where the filter's output still changes: a value
    // beyond acts as the nearer end (the record still takes it).
    int32_t effectMin;
    int32_t effectMax;
};

namespace fields {

inline constexpr int32_t kMost = std::numeric_limits<int32_t>::max();
inline constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();

constexpr DialogField Number(int32_t FilterSettings::*member, ControlId edit, ControlId label,
                             std::size_t offset, const char* caption, const char* name,
                             int32_t min, const char* meaning, const char* nullObject) {
    return {member, FieldControl::NumberBox, edit, label, PresetSlot::Text, offset, caption,
            name, min, kMost, meaning, nullObject, min, kMost};
}

// A number box whose filter stops changing the image outside least to most.
constexpr DialogField Effective(DialogField row, int32_t least, int32_t most) {
    row.effectMin = least;
    row.effectMax = most;
    return row;
}

constexpr DialogField Check(int32_t FilterSettings::*member, ControlId check, std::size_t offset,
                            const char* caption, const char* meaning, const char* nullObject) {
    return {member, FieldControl::CheckBox, check, 0, PresetSlot::Switch, offset, caption,
            nullptr, 0, 0, meaning, nullObject, 0, 0};
}

constexpr DialogField ByHand(int32_t FilterSettings::*member, ControlId check, PresetSlot slot,
                             std::size_t offset, const char* caption, const char* meaning,
                             const char* nullObject) {
    return {member, FieldControl::ByHand, check, 0, slot, offset, caption, nullptr, 0, 0,
            meaning, nullObject, 0, 0};
}

constexpr DialogField ColourBound(int32_t FilterSettings::*member, std::size_t offset) {
    return {member, FieldControl::None, 0, 0, PresetSlot::Record, offset, nullptr, nullptr, 0,
            0, nullptr, nullptr, 0, 0};
}

}  // namespace fields

// The rows. Number boxes come first, in the dialog's reading order (the
// order in which OK reports problems). Strengths and gains are never
// negative; gamma and contrast move either way from their neutral value, and
// "T" moves the antialias threshold either way from 200.
inline constexpr DialogField kDialogFields[] = {
    fields::Number(&FilterSettings::RedPercent, kRedPercentEdit, kRedPercentLabel, 10, "&Red%",
                   "Red%", 0,
                   "Red gain in percent: 100 leaves red as rendered, 50 halves it, 200 doubles it.",
                   "3Red%"),
    fields::Number(&FilterSettings::GreenPercent, kGreenPercentEdit, kGreenPercentLabel, 15,
                   "&Green%", "Green%", 0, "Green gain in percent: 100 leaves green as rendered.",
                   "3Green%"),
    fields::Number(&FilterSettings::BluePercent, kBluePercentEdit, kBluePercentLabel, 20, "&Blue%",
                   "Blue%", 0, "Blue gain in percent: 100 leaves blue as rendered.", "3Blue%"),
    fields::Number(&FilterSettings::BrightPercent, kBrightPercentEdit, kBrightPercentLabel, 5,
                   "Br&ight%", "Bright%", 0,
                   "Brightness in percent, applied to all three colours: 100 leaves the image as "
                   "rendered.",
                   "3Bright%"),
    // Every level but 0 is 255 from 25500 on and 0 from -25301 down.
    fields::Effective(
        fields::Number(&FilterSettings::GammaPercent, kGammaPercentEdit, kGammaPercentLabel, 25,
                       "G&amma%", "Gamma%", fields::kLeast,
                       "Gamma in percent: 100 leaves the image as rendered; above 100 lightens "
                       "the mid-tones, below 100 darkens them.",
                       "3Gamma%"),
        -25301, 25500),
    // Every level but 128 is 0 or 255 once the factor passes 127 either way.
    fields::Effective(
        fields::Number(&FilterSettings::ContrastPercent, kContrastPercentEdit,
                       kContrastPercentLabel, 30, "&Contrast%", "Contrast%", fields::kLeast,
                       "Contrast in percent: 100 leaves the image as rendered; above 100 adds "
                       "contrast, below 100 flattens it.",
                       "3Contrast%"),
        -51101, 50501),
    fields::Number(&FilterSettings::BlurPercent, kBlurPercentEdit, 0, 65, nullptr, "Blur%", 0,
                   "Blur strength in percent: every 20% widens the blur radius by one pixel. Runs "
                   "when the Blur% box is checked.",
                   "3Blur%"),
    fields::Number(&FilterSettings::DOFBlurPercent, kDOFBlurPercentEdit, 0, 70, nullptr,
                   "DOF Blur%", 0,
                   "Depth-of-field blur strength in percent: how fast the blur grows with the "
                   "distance from the focal point F. Runs when the DOF Blur% box is checked.",
                   "3DOFBlur%"),
    fields::Number(&FilterSettings::DOFBlurFocalPoint, kFocalPointEdit, kFocalPointLabel, 75, "F",
                   "F (focal point)", 0,
                   "F, the focal point: the distance from the camera, in scene units, that stays "
                   "sharp under the depth-of-field blur.",
                   "3FocalPoint"),
    fields::Number(&FilterSettings::SharpenPercent, kEnhancePercentEdit, 0, 40, nullptr,
                   "Enhance%", 0,
                   "Enhance (sharpen) strength in percent. Runs when the Enhance% box is checked.",
                   "3Enhance%"),
    fields::Number(&FilterSettings::AntialiasPercent, kAntialiasPercentEdit, 0, 50, nullptr,
                   "Antialias%", 0,
                   "Antialias strength in percent: how far a jagged edge pixel is smoothed toward "
                   "its neighbours. Runs when the Antialias% box is checked.",
                   "3Antialias%"),
    // From 200 on every difference counts, from -56 down none does.
    fields::Effective(
        fields::Number(&FilterSettings::AntialiasVariance, kAntialiasThresholdEdit,
                       kAntialiasThresholdLabel, 45, "T", "T (antialias threshold)", fields::kLeast,
                       "T, the antialias threshold: a pixel is smoothed when it differs from its "
                       "neighbours by more than 200 minus T (colour levels), so a larger T "
                       "smooths more edges.",
                       "3AntialiasT"),
        -56, 200),
    fields::Number(&FilterSettings::NoisePercent, kNoisePercentEdit, 0, 35, nullptr, "Noise%", 0,
                   "Noise amount in percent added to every colour. Runs when the Noise% box is "
                   "checked.",
                   "3Noise%"),
    fields::Number(&FilterSettings::PosterizePercent, kPosterizePercentEdit, 0, 55, nullptr,
                   "Posterize%", 0,
                   "Posterize strength in percent: colour levels are grouped in steps of half "
                   "this value, up to 200 levels. Runs when the Posterize% box is checked.",
                   "3Posterize%"),
    // Present but never shown, and never the user's to correct: OK limits
    // it to kMaxPasses.
    {&FilterSettings::Passes, FieldControl::ByHand, kPassesEdit, kPassesLabel, PresetSlot::Text,
     0, "Antialias Passes ", "Antialias Passes", fields::kLeast, kMaxPasses,
     "Enhance and antialias passes, at most 4.", "3AntialiasPasses", fields::kLeast, kMaxPasses},

    fields::Check(&FilterSettings::BlurFlag, kBlurCheck, 92, "Bl&ur%",
                  "Blur the frame by Blur% (off: no blur).", "3Blur%"),
    // Its third state also sets SofterExtraFlag.
    fields::ByHand(&FilterSettings::SofterBlurFlag, kSofterCheck, PresetSlot::Switch, 96, "S&ofter",
                   "Softer blur (SofterBlurFlag, as lumafex show lists it), three states:\n"
                   "unchecked: 0 normal, the plain blur and depth-of-field blur;\n"
                   "checked: 1 softer, the softer blur and depth-of-field blur;\n"
                   "partly checked: 2 softer extra, the softer depth-of-field blur without the "
                   "softer blur over the frame.",
                   "3Softer"),
    fields::Check(&FilterSettings::DOFBlurFlag, kDOFBlurCheck, 100, "&DOF Blur%",
                  "Depth-of-field blur: blur by distance from the focal point F, using the depth "
                  "buffer.",
                  "3DOFBlur%"),
    fields::Check(&FilterSettings::SharpenFlag, kEnhanceCheck, 84, "&Enhance%",
                  "Enhance (sharpen) the frame by Enhance%.", "3Enhance%"),
    fields::Check(&FilterSettings::SmoothFlag, kAntialiasCheck, 88, "An&tialias%",
                  "Antialias: smooth jagged edges by Antialias%, where neighbours differ by more "
                  "than the threshold set with T.",
                  "3AntialiasT"),
    fields::Check(&FilterSettings::NoiseFlag, kNoiseCheck, 124, "Noise%",
                  "Add noise by Noise% (the same sequence of noise on every render).", "3Noise%"),
    fields::Check(&FilterSettings::CartoonFlag, kPosterizeCheck, 140, "Posteri&ze%",
                  "Posterize: reduce the colour levels by Posterize%.", "3Posterize%"),
    fields::Check(&FilterSettings::NegativeFlag, kNtscLimitCheck, 128, "NTSC &Limit",
                  "NTSC Limit: keep colours within the broadcast (NTSC) safe range.",
                  "3NTSCLimit"),
    fields::Check(&FilterSettings::GreyFlag, kBlackAndWhiteCheck, 120, "Black and &White",
                  "Black and White: turn the image into shades of grey.", "3BlackandWhite"),
    fields::Check(&FilterSettings::NegativeImageFlag, kNegativeCheck, 136, "Negati&ve",
                  "Negative: invert the colours.", "3Negative"),
    // Box and radios: 0 off, 1 "Horz", 2 "Vert".
    fields::ByHand(&FilterSettings::FlipFrameFlag, kFlipFrameCheck, PresetSlot::ByHand, 104,
                   "Flip Frame",
                   "Flip Frame: mirror the image, horizontally (Horz) or vertically (Vert).",
                   "3FlipFrame"),
    fields::Check(&FilterSettings::BlackFlag, kBlackCheck, 112, "&100% Black",
                  "100% Black: paint every affected pixel solid black (alpha unchanged).",
                  nullptr),
    fields::Check(&FilterSettings::WhiteFlag, kWhiteCheck, 116, "1&00% White",
                  "100% White: paint every affected pixel solid white (alpha unchanged).",
                  nullptr),
    fields::Check(&FilterSettings::ReverseAlphaFlag, kNegativeAlphaCheck, 144, "Negative Al&pha",
                  "Negative Alpha: invert the alpha channel.", nullptr),
    fields::Check(&FilterSettings::RangeAlphaFlag, kRangeAlphaCheck, 148, "Range Alp&ha",
                  "Range Alpha: turn every pixel inside the high/low colour range into opaque "
                  "white (colour 255, alpha 255); the others stay as they are.",
                  nullptr),
    // Box and radios: 0 off, 1 "B", 2 "W".
    fields::ByHand(&FilterSettings::KeyPrepFlag, kKeyPrepCheck, PresetSlot::ByHand, 108,
                   "&Key Prep",
                   "Key Prep: keep colours of the affected pixels away from pure black (B: no "
                   "channel below 21) or pure white (W: none above 234), for keying.",
                   nullptr),
    // The five "Filters Should Affect" radios: 0..4.
    fields::ByHand(&FilterSettings::FilterInclude, 0, PresetSlot::ByHand, 80, nullptr, nullptr,
                   nullptr),

    // The colour range: chosen with the colour choosers, kept in presets as
    // text made from the record.
    fields::ColourBound(&FilterSettings::r1, 152),
    fields::ColourBound(&FilterSettings::g1, 157),
    fields::ColourBound(&FilterSettings::b1, 162),
    fields::ColourBound(&FilterSettings::r2, 167),
    fields::ColourBound(&FilterSettings::g2, 172),
    fields::ColourBound(&FilterSettings::b2, 177),
};

// The row of a record member, found while compiling: a member without a row
// does not compile.
consteval const DialogField& DialogFieldOf(int32_t FilterSettings::*member) {
    for (const DialogField& row : kDialogFields) {
        if (row.member == member) return row;
    }
    throw "the member has no dialog row";
}

// The row whose edit or check box (or label) is id, or null.
const DialogField* FindDialogField(ControlId id);

}  // namespace lumafex::ui
