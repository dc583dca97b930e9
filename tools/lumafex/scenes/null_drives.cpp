#include "scenes/null_drives.h"

#include <cstring>

namespace lumafex::tool {

namespace {

struct Drive {
    const char* field;
    const char* channels;
};

// Channels that only shape working values without a stored counterpart
// ("3ColorMode", "3MaxDOFBlur%", "3DOFSeperator", the noise colour
// channels) are not listed.
constexpr Drive kDrives[] = {
    {"Passes", "3AntialiasPasses"},
    {"RedPercent", "3Red%"},
    {"GreenPercent", "3Green%"},
    {"BluePercent", "3Blue%"},
    {"BrightPercent", "3Bright%"},
    {"FilterInclude", "3FiltersShouldAffect"},
    {"SharpenFlag", "3Enhance%"},
    {"SharpenPercent", "3Enhance%"},
    {"SmoothFlag", "3AntialiasT"},
    {"AntialiasVariance", "3AntialiasT"},
    {"AntialiasPercent", "3Antialias%"},
    {"BlurFlag", "3Blur%"},
    {"SofterBlurFlag", "3Softer"},
    {"BlurPercent", "3Blur%"},
    {"DOFBlurFlag", "3DOFBlur%"},
    {"DOFBlurPercent", "3DOFBlur%"},
    {"DOFBlurFocalPoint", "3FocalPoint,3FocalRange"},
    {"GammaPercent", "3Gamma%"},
    {"ContrastPercent", "3Contrast%"},
    {"NoisePercent", "3Noise%"},
    {"FlipFrameFlag", "3FlipFrame"},
    {"GreyFlag", "3BlackandWhite"},
    {"NoiseFlag", "3Noise%"},
    {"NegativeFlag", "3NTSCLimit"},
    {"NegativeImageFlag", "3Negative"},
    {"CartoonFlag", "3Posterize%"},
    {"r1", "3LowRed"},
    {"g1", "3LowGreen"},
    {"b1", "3LowBlue"},
    {"r2", "3HighRed"},
    {"g2", "3HighGreen"},
    {"b2", "3HighBlue"},
};

}  // namespace

const char* NullsDriving(const char* field) {
    for (const Drive& d : kDrives) {
        if (std::strcmp(d.field, field) == 0) return d.channels;
    }
    return "";
}

}  // namespace lumafex::tool
