#include "ui/field_limits.h"

#include <cstring>
#include <limits>

namespace lumafex::ui {

namespace {

constexpr int32_t kMost = std::numeric_limits<int32_t>::max();
constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();

// Strengths and gains are never negative; gamma and contrast move either way
// from their neutral value, and "T" moves the antialias threshold either way
// from 200. The passes box is never shown; the record limits it to 4.
constexpr FieldLimits kLimits[] = {
    {kRedPercentEdit, "Red%", 0, kMost,
     "Red gain in percent: 100 leaves red as rendered, 50 halves it, 200 doubles it.", "3Red%"},
    {kGreenPercentEdit, "Green%", 0, kMost,
     "Green gain in percent: 100 leaves green as rendered.", "3Green%"},
    {kBluePercentEdit, "Blue%", 0, kMost, "Blue gain in percent: 100 leaves blue as rendered.",
     "3Blue%"},
    {kBrightPercentEdit, "Bright%", 0, kMost,
     "Brightness in percent, applied to all three colours: 100 leaves the image as rendered.",
     "3Bright%"},
    {kGammaPercentEdit, "Gamma%", kLeast, kMost,
     "Gamma in percent: 100 leaves the image as rendered; above 100 lightens the mid-tones, "
     "below 100 darkens them.",
     "3Gamma%"},
    {kContrastPercentEdit, "Contrast%", kLeast, kMost,
     "Contrast in percent: 100 leaves the image as rendered; above 100 adds contrast, below 100 "
     "flattens it.",
     "3Contrast%"},
    {kBlurPercentEdit, "Blur%", 0, kMost,
     "Blur strength in percent: every 20% widens the blur radius by one pixel. Runs when the "
     "Blur% box is checked.",
     "3Blur%"},
    {kDOFBlurPercentEdit, "DOF Blur%", 0, kMost,
     "Depth-of-field blur strength in percent: how fast the blur grows with the distance from "
     "the focal point F. Runs when the DOF Blur% box is checked.",
     "3DOFBlur%"},
    {kFocalPointEdit, "F (focal point)", 0, kMost,
     "F, the focal point: the distance from the camera, in scene units, that stays sharp under "
     "the depth-of-field blur.",
     "3FocalPoint"},
    {kEnhancePercentEdit, "Enhance%", 0, kMost,
     "Enhance (sharpen) strength in percent. Runs when the Enhance% box is checked.",
     "3Enhance%"},
    {kAntialiasPercentEdit, "Antialias%", 0, kMost,
     "Antialias strength in percent: how far a jagged edge pixel is smoothed toward its "
     "neighbours. Runs when the Antialias% box is checked.",
     "3Antialias%"},
    {kAntialiasThresholdEdit, "T (antialias threshold)", kLeast, kMost,
     "T, the antialias threshold: a pixel is smoothed when it differs from its neighbours by "
     "more than 200 minus T (colour levels), so a larger T smooths more edges.",
     "3AntialiasT"},
    {kNoisePercentEdit, "Noise%", 0, kMost,
     "Noise amount in percent added to every colour. Runs when the Noise% box is checked.",
     "3Noise%"},
    {kPosterizePercentEdit, "Posterize%", 0, kMost,
     "Posterize strength in percent: colour levels are grouped in steps of half this value, up "
     "to 200 levels. Runs when the Posterize% box is checked.",
     "3Posterize%"},
    {kPassesEdit, "Antialias Passes", kLeast, 4, "Enhance and antialias passes, at most 4.",
     "3AntialiasPasses"},
};

// The digits of text after optional white space and a sign, read with the
// dialog's rule; magnitude saturates just past the 32-bit range.
struct Reading {
    bool hasDigits = false;
    bool negative = false;
    int64_t magnitude = 0;
};

Reading Read(const char* text) {
    Reading r;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') r.negative = *p++ == '-';
    constexpr int64_t kCap = int64_t{kMost} + 2;
    for (; *p >= '0' && *p <= '9'; ++p) {
        r.hasDigits = true;
        r.magnitude = r.magnitude * 10 + (*p - '0');
        if (r.magnitude > kCap) r.magnitude = kCap;
    }
    return r;
}

}  // namespace

const FieldLimits* FindFieldLimits(ControlId edit) {
    for (const FieldLimits& row : kLimits) {
        if (row.edit == edit) return &row;
    }
    return nullptr;
}

const FieldLimits* FieldLimitsBegin() { return std::begin(kLimits); }
const FieldLimits* FieldLimitsEnd() { return std::end(kLimits); }

std::string RangeText(const FieldLimits& limits) {
    return "a whole number from " + std::to_string(limits.min) + " to " +
           std::to_string(limits.max);
}

std::string FieldProblem(const FieldLimits& limits, const char* text) {
    const Reading r = Read(text);
    if (!r.hasDigits) {
        bool blank = true;
        for (const char* p = text; *p != '\0'; ++p) blank = blank && (*p == ' ' || *p == '\t');
        if (blank) return std::string(limits.name) + " is empty: enter " + RangeText(limits) + ".";
        return std::string(limits.name) + " is not a number: enter " + RangeText(limits) + ".";
    }
    const int64_t value = r.negative ? -r.magnitude : r.magnitude;
    if (value < limits.min || value > limits.max) {
        std::string shown = r.magnitude > kMost ? (r.negative ? "a value below " : "a value above ")
                                                : std::string();
        shown += r.magnitude > kMost ? std::to_string(r.negative ? limits.min : limits.max)
                                     : std::to_string(value);
        return std::string(limits.name) + " must be " + RangeText(limits) + "; " + shown +
               " is outside that range.";
    }
    return {};
}

}  // namespace lumafex::ui
