#include "pipeline/null_channel_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "pipeline/null_truncate.h"

namespace lumafex {

namespace {

// A value far beyond the single range (an object placed absurdly far away)
// becomes an infinity when it is rounded, as IEEE arithmetic defines; the
// stages that turn working values into pixels guard against it.
static_assert(std::numeric_limits<float>::is_iec559);
static_assert(std::numeric_limits<double>::is_iec559);

// Every working value is formed in double precision from v and rounded to
// single precision once, here, where it is stored.
float Single(double x) { return static_cast<float>(x); }

double ValueOf(const double vector[3]) { return vector[2]; }

// Straight-line distance between two positions, summed in this order in
// double precision.
double Distance(const double a[3], const double b[3]) {
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

int32_t Flag(bool on) { return on ? 1 : 0; }

using Vector = const double*;
using Target = NullChannelTarget;

// Rules of the channels that need more than one line.

void ColorMode(Vector vec, Target& t) {
    const double v = ValueOf(vec);
    t.params.ColorModeOffset = 0;
    t.params.ColorModeSet = 0;
    if (v > 0.0 && v <= 1.0) t.params.ColorModeOffset = 1;
    if (v > 1.0) t.params.ColorModeSet = 1;
}

void FocalPoint(Vector vec, Target& t) {
    for (int i = 0; i < 3; ++i) t.focalPosition[i] = vec[i];
    // An object at the origin only moves the point "3FocalRange" measures
    // from; the focal distance stays as it was.
    if (vec[0] == 0.0 && vec[1] == 0.0 && vec[2] == 0.0) return;
    t.params.FocalDistance = Distance(t.params.CameraPosition, vec);
    t.params.FocalNear = Single(t.params.FocalDistance);
    t.params.FocalFar = t.params.FocalNear;
}

void FocalRange(Vector vec, Target& t) {
    // Measured from the focal distance and focal position as they stand when
    // this object is reached in the host's order.
    const double r = Distance(vec, t.focalPosition);
    t.params.FocalNear = Single(t.params.FocalDistance - r);
    t.params.FocalFar = Single(t.params.FocalDistance + r);
}

void AntialiasAmount(Vector vec, Target& t) {
    // Divided by Passes as the record holds it now: 1, unless a
    // "3AntialiasPasses" object came earlier. A frame never leaves it
    // below 1; a record that does is taken as 1 so the division stays
    // defined.
    const int32_t passes = t.settings.Passes >= 1 ? t.settings.Passes : 1;
    t.params.AntialiasAmount = Single(ValueOf(vec) * static_cast<double>(kAntialiasUnit) /
                                      static_cast<double>(passes));
}

void Posterize(Vector vec, Target& t) {
    // v x 0.5 is rounded to single precision first; the limits and the
    // posterize switch then work on that stored value.
    float step = Single(ValueOf(vec) * 0.5);
    if (step > 200.0f) step = 200.0f;
    if (step < 1.0f) step = 1.0f;
    t.params.PosterizeStep = step;
    t.settings.CartoonFlag = Flag(step > 1.0f);
}

void FlipFrame(Vector vec, Target& t) {
    const double v = ValueOf(vec);
    t.settings.FlipFrameFlag = 0;
    if (v > 0.0) t.settings.FlipFrameFlag = 1;  // horizontal
    if (v > 1.0) t.settings.FlipFrameFlag = 2;  // vertical
}

void FiltersShouldAffect(Vector vec, Target& t) {
    const double v = ValueOf(vec);
    int32_t include = 3;  // full frame
    int32_t side = 0;     // depth-of-field blur on both sides
    if (v > 5.0) {
        side = 2;  // far side only
    } else if (v > 4.0) {
        side = 1;  // near side only
    } else if (v > 3.0) {
        include = 4;  // high/low colour range
    } else if (v > 2.0) {
        include = 2;  // shadows only
    } else if (v > 1.0) {
        include = 0;  // objects only
    } else if (v > 0.0) {
        include = 1;  // background only
    }
    t.settings.FilterInclude = include;
    t.params.DOFBlurSide = side;
}

// Each switch channel first resets its flag, so an object at v <= 0 turns
// the filter off for the frame and in the record.
const std::array<NullChannel, kNullChannelCount> kChannels = {{
    {"3Red%", [](Vector vec, Target& t) { t.params.RedScale = Single(ValueOf(vec) * 0.01); }},
    {"3Green%",
     [](Vector vec, Target& t) { t.params.GreenScale = Single(ValueOf(vec) * 0.01); }},
    {"3Blue%", [](Vector vec, Target& t) { t.params.BlueScale = Single(ValueOf(vec) * 0.01); }},
    {"3ColorMode", ColorMode},
    {"3Bright%",
     [](Vector vec, Target& t) { t.params.BrightScale = Single(ValueOf(vec) * 0.01); }},
    // 100 x 0.01 is exactly 1 in double, so v = 100 gives an offset of 0.
    {"3Gamma%",
     [](Vector vec, Target& t) { t.params.GammaOffset = Single(ValueOf(vec) * 0.01 - 1.0); }},
    {"3Contrast%",
     [](Vector vec, Target& t) {
         t.params.ContrastFactor = Single(ValueOf(vec) * 0.0025 + 0.75);
     }},
    {"3Blur%",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         t.settings.BlurFlag = 0;
         if (v > 0.0) {
             t.settings.BlurFlag = 1;
             t.params.BlurAmount = Single(v * 0.05);
         }
     }},
    {"3Softer",
     [](Vector vec, Target& t) { t.settings.SofterBlurFlag = Flag(ValueOf(vec) >= 1.0); }},
    {"3DOFBlur%",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         t.settings.DOFBlurFlag = 0;
         if (v > 0.0) {
             t.settings.DOFBlurFlag = 1;
             t.params.DOFBlurAmount = Single(v * 0.05);
         }
     }},
    {"3MaxDOFBlur%",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         if (v > 0.0) t.params.MaxDOFBlur = Single(v * 0.05);
     }},
    {"3FocalPoint", FocalPoint},
    {"3FocalRange", FocalRange},
    {"3DOFSeperator", [](Vector vec, Target& t) { t.params.DOFSeperator = Single(ValueOf(vec)); }},
    {"3Enhance%",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         t.settings.SharpenFlag = 0;
         if (v > 0.0) {
             t.settings.SharpenFlag = 1;
             t.params.EnhanceAmount = Single(v * 0.01);
         }
     }},
    {"3Antialias%", AntialiasAmount},
    {"3AntialiasT",
     [](Vector vec, Target& t) {
         // A value of 0 or less switches the antialias off and keeps the
         // threshold the settings gave.
         const double v = ValueOf(vec);
         t.settings.SmoothFlag = 0;
         if (v > 0.0) {
             t.settings.SmoothFlag = 1;
             t.params.AntialiasThreshold = Single(200.0 - v);
         }
     }},
    {"3AntialiasPasses",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         // Limited like the dialog's passes box: each pass is a full
         // enhance/antialias run over the frame.
         t.settings.Passes = 1;
         if (v > 1.0) t.settings.Passes = std::min(TruncateChannelValue(v), kMaxPasses);
     }},
    {"3Noise%",
     [](Vector vec, Target& t) {
         const double v = ValueOf(vec);
         t.settings.NoiseFlag = 0;
         if (v > 0.0) {
             t.settings.NoiseFlag = 1;
             t.params.NoiseAmount = Single(v * 100.0);
         }
     }},
    {"3ChromaNoise",
     [](Vector vec, Target& t) { t.params.ChromaNoise = Flag(ValueOf(vec) != 0.0); }},
    {"3NoiseRed%",
     [](Vector vec, Target& t) { t.params.NoiseRed = Single(ValueOf(vec) * 0.01); }},
    {"3NoiseGreen%",
     [](Vector vec, Target& t) { t.params.NoiseGreen = Single(ValueOf(vec) * 0.01); }},
    {"3NoiseBlue%",
     [](Vector vec, Target& t) { t.params.NoiseBlue = Single(ValueOf(vec) * 0.01); }},
    {"3Posterize%", Posterize},
    {"3NTSCLimit",
     [](Vector vec, Target& t) { t.settings.NegativeFlag = Flag(ValueOf(vec) > 0.0); }},
    {"3BlackandWhite",
     [](Vector vec, Target& t) { t.settings.GreyFlag = Flag(ValueOf(vec) > 0.0); }},
    {"3Negative",
     [](Vector vec, Target& t) { t.settings.NegativeImageFlag = Flag(ValueOf(vec) > 0.0); }},
    {"3FlipFrame", FlipFrame},
    {"3FiltersShouldAffect", FiltersShouldAffect},
    // Colour bounds are stored as truncated, without limiting to 0..255.
    {"3LowRed", [](Vector vec, Target& t) { t.settings.r1 = TruncateChannelValue(ValueOf(vec)); }},
    {"3LowGreen",
     [](Vector vec, Target& t) { t.settings.g1 = TruncateChannelValue(ValueOf(vec)); }},
    {"3LowBlue",
     [](Vector vec, Target& t) { t.settings.b1 = TruncateChannelValue(ValueOf(vec)); }},
    {"3HighRed",
     [](Vector vec, Target& t) { t.settings.r2 = TruncateChannelValue(ValueOf(vec)); }},
    {"3HighGreen",
     [](Vector vec, Target& t) { t.settings.g2 = TruncateChannelValue(ValueOf(vec)); }},
    {"3HighBlue",
     [](Vector vec, Target& t) { t.settings.b2 = TruncateChannelValue(ValueOf(vec)); }},
}};

}  // namespace

const std::array<NullChannel, kNullChannelCount>& NullChannels() { return kChannels; }

const NullChannel* FindNullChannel(const char* name) {
    for (const NullChannel& channel : kChannels) {
        if (std::strcmp(channel.name, name) == 0) return &channel;
    }
    return nullptr;
}

}  // namespace lumafex
