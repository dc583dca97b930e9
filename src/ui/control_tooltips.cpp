#include "ui/control_tooltips.h"

#include "ui/field_limits.h"

namespace lumafex::ui {

namespace {

struct ToolTip {
    ControlId id;
    const char* text;
    const char* nullObject;  // drives the control under "Use Nulls", or null
};

constexpr ToolTip kToolTips[] = {
    {kBlurCheck, "Blur the frame by Blur% (off: no blur).", "3Blur%"},
    {kSofterCheck,
     "Softer: use the softer blur and depth-of-field blur. The third (partly checked) state "
     "keeps the softer depth-of-field blur but skips the softer blur over the frame.",
     "3Softer"},
    {kDOFBlurCheck, "Depth-of-field blur: blur by distance from the focal point F, using the "
                    "depth buffer.",
     "3DOFBlur%"},
    {kEnhanceCheck, "Enhance (sharpen) the frame by Enhance%.", "3Enhance%"},
    {kAntialiasCheck, "Antialias: smooth jagged edges by Antialias%, where neighbours differ "
                      "by more than the threshold set with T.",
     "3AntialiasT"},
    {kNoiseCheck, "Add noise by Noise% (the same sequence of noise on every render).",
     "3Noise%"},
    {kPosterizeCheck, "Posterize: reduce the colour levels by Posterize%.", "3Posterize%"},
    {kNtscLimitCheck, "NTSC Limit: keep colours within the broadcast (NTSC) safe range.",
     "3NTSCLimit"},
    {kBlackAndWhiteCheck, "Black and White: turn the image into shades of grey.",
     "3BlackandWhite"},
    {kNegativeCheck, "Negative: invert the colours.", "3Negative"},
    {kFlipFrameCheck, "Flip Frame: mirror the image, horizontally (Horz) or vertically (Vert).",
     "3FlipFrame"},
    {kFlipHorzRadio, "Flip left to right.", "3FlipFrame"},
    {kFlipVertRadio, "Flip top to bottom.", "3FlipFrame"},
    {kBlackCheck, "100% Black: paint every affected pixel solid black (alpha unchanged).",
     nullptr},
    {kWhiteCheck, "100% White: paint every affected pixel solid white (alpha unchanged).",
     nullptr},
    {kNegativeAlphaCheck, "Negative Alpha: invert the alpha channel.", nullptr},
    {kRangeAlphaCheck,
     "Range Alpha: turn every pixel inside the high/low colour range into opaque white "
     "(colour 255, alpha 255); the others stay as they are.",
     nullptr},
    {kKeyPrepCheck, "Key Prep: keep colours of the affected pixels away from pure black (B: no "
                    "channel below 21) or pure white (W: none above 234), for keying.",
     nullptr},
    {kKeyPrepBlackRadio, "Key Prep B: no colour channel below 21.", nullptr},
    {kKeyPrepWhiteRadio, "Key Prep W: no colour channel above 234.", nullptr},
    {kFullFrameRadio, "Filters affect every pixel.", "3FiltersShouldAffect"},
    {kBackgroundOnlyRadio, "Filters affect only the background (where no object was rendered).",
     "3FiltersShouldAffect"},
    {kObjectsOnlyRadio, "Filters affect only rendered objects.", "3FiltersShouldAffect"},
    {kShadowsOnlyRadio, "Filters affect only pixels in shadow.", "3FiltersShouldAffect"},
    {kColourRangeRadio,
     "Filters affect only colours between a low and a high colour: clicking opens the \"Low "
     "colour\" and then the \"High colour\" chooser.",
     "3FiltersShouldAffect"},
    {kOkButton, "Store these settings and close.", nullptr},
    {kCancelButton,
     "Close without storing the settings (a colour range already chosen stays chosen).", nullptr},
};

// Labels show their box's tooltip.
constexpr std::pair<ControlId, ControlId> kLabels[] = {
    {kRedPercentLabel, kRedPercentEdit},         {kGreenPercentLabel, kGreenPercentEdit},
    {kBluePercentLabel, kBluePercentEdit},       {kBrightPercentLabel, kBrightPercentEdit},
    {kGammaPercentLabel, kGammaPercentEdit},     {kContrastPercentLabel, kContrastPercentEdit},
    {kFocalPointLabel, kFocalPointEdit},         {kAntialiasThresholdLabel, kAntialiasThresholdEdit},
};

std::string DrivenBy(const char* nullObject) {
    if (nullObject == nullptr) return {};
    return std::string("\nUnder \"Use Nulls\", the null object \"") + nullObject +
           "\" drives it (the control is then disabled).";
}

}  // namespace

std::string ControlToolTip(ControlId id) {
    for (const auto& [label, edit] : kLabels) {
        if (label == id) id = edit;
    }
    if (const FieldLimits* limits = FindFieldLimits(id)) {
        return std::string(limits->meaning) + "\nRange: " + RangeText(*limits) + "." +
               DrivenBy(limits->nullObject);
    }
    for (const ToolTip& tip : kToolTips) {
        if (tip.id == id) return tip.text + DrivenBy(tip.nullObject);
    }
    return {};
}

const std::vector<ControlId>& ControlsWithToolTips() {
    static const std::vector<ControlId> ids = [] {
        std::vector<ControlId> all;
        for (const FieldLimits* row = FieldLimitsBegin(); row != FieldLimitsEnd(); ++row) {
            if (row->edit != kPassesEdit) all.push_back(row->edit);
        }
        for (const auto& [label, edit] : kLabels) all.push_back(label);
        for (const ToolTip& tip : kToolTips) all.push_back(tip.id);
        return all;
    }();
    return ids;
}

}  // namespace lumafex::ui
