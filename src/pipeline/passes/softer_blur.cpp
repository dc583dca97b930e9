// The softer blur. Like the plain blur, every selected pixel spreads its
// colour over its footprint, but each contribution carries the weight
// w = r - distance, so the blur falls off linearly to nothing at the radius;
// unselected receivers mix the spread colour with their own by t = w / r.
//
// The sums are single-precision values rounded after every addition, so the
// order of the additions into a pixel matters: it must be the order of the
// spreading pixels, row by row and left to right. All pixels of a spreading
// row share their footprint's shape, and a receiver lies in only one
// footprint row of a given spreading row, so the spread below takes, for
// one spreading row and one footprint row, each receiver in turn and adds
// the contributions of the spreading pixels within reach of it from left
// to right: exactly that order, with the receiver's sums kept at hand and
// one table of weights per footprint row.
//
// The threads take strips of receiving rows. A strip visits the spreading
// rows that reach it, top to bottom and left to right as before, and adds
// only into its own rows, so every receiver still sums in that order.
#include "pipeline/passes/softer_blur.h"

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_weights.h"
#include "pipeline/strips.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the spread
// colour, a blend of the spread colour and its own, or nothing.
enum class Take { Full, Blended, None };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Blended;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Blended;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Blended;
    }
    return Take::Full;
}

// A spreading pixel's colour as AddWeighted takes it: red, green, blue and
// 1; all 0 for a pixel that does not spread, whose contribution c x w then
// adds exactly nothing to any sum.
using SourceColour = double[4];

// Spreads into the receiving rows first .. end-1 only.
template <int32_t Mode>
void Spread(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            SumCell<float>* cells, float* weights, uint8_t* spreads, SourceColour* sources,
            int32_t first, int32_t end) {
    const float radius = footprint.Radius();
    const double r = static_cast<double>(radius);
    const int32_t reachRows = footprint.Reach();
    const int32_t yFrom = first > reachRows ? first - reachRows : 0;
    const int32_t yTo = f.height - end > reachRows ? end - 1 + reachRows : f.height - 1;
    for (int32_t y = yFrom; y <= yTo; ++y) {
        bool any = false;
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t i = f.Index(x, y);
            spreads[x] = PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i],
                                       f.blue[i]) ? 1 : 0;
            any = any || spreads[x] != 0;
            const double on = spreads[x] != 0 ? 1.0 : 0.0;
            sources[x][0] = on * f.red[i];
            sources[x][1] = on * f.green[i];
            sources[x][2] = on * f.blue[i];
            sources[x][3] = on;
        }
        if (!any) continue;
        const int32_t top = footprint.Top(y);
        const int32_t bottom = footprint.Bottom(y);
        const int32_t yyFrom = top > first ? top : first;
        const int32_t yyTo = bottom < end - 1 ? bottom : end - 1;
        for (int32_t yy = yyFrom; yy <= yyTo; ++yy) {
            // weights[centre + dx]; pixels within reach of each other get w > 0.
            const int32_t centre = footprint.HalfWidth(yy - top);
            const int32_t reach = FillWeights(radius, yy - y, centre, weights);
            if (reach < 0) continue;
            SumCell<float>* const rowCells = cells + f.Index(0, yy);
            const float* const wCentre = weights + centre;
            for (int32_t xx = 0; xx < f.width; ++xx) {
                const std::size_t j = f.Index(xx, yy);
                // Four receivers at once where all take the full colour and
                // every pixel within reach of them lies inside the row.
                if (xx >= reach && f.width - 4 - xx >= reach &&
                    TakeOf<Mode>(s, f, j) == Take::Full && TakeOf<Mode>(s, f, j + 1) == Take::Full &&
                    TakeOf<Mode>(s, f, j + 2) == Take::Full &&
                    TakeOf<Mode>(s, f, j + 3) == Take::Full) {
                    AddWeightedFour(rowCells + xx, sources + xx, wCentre, reach);
                    xx += 3;
                    continue;
                }
                const Take take = TakeOf<Mode>(s, f, j);
                if (take == Take::None) continue;
                // The spreading pixels whose rows reach xx.
                const ColumnSpan span = FootprintColumns(xx, reach, f.width);
                const int32_t base = centre + xx;  // weights[base - x] for the pixel at x
                SumCell<float> sums = rowCells[xx];
                if (take == Take::Full) {
                    for (int32_t x = span.first; x <= span.last; ++x) {
                        AddWeighted(sums, sources[x], weights[base - x]);
                    }
                } else {
                    const double own[3] = {static_cast<double>(f.red[j]),
                                           static_cast<double>(f.green[j]),
                                           static_cast<double>(f.blue[j])};
                    for (int32_t x = span.first; x <= span.last; ++x) {
                        if (spreads[x] == 0) continue;
                        const double w = weights[base - x];
                        // t in double: how much of the spread colour the
                        // receiver takes, from 1 at the centre to 0 at r.
                        const double t = w / r;
                        const double blended[4] = {t * sources[x][0] + (1.0 - t) * own[0],
                                                   t * sources[x][1] + (1.0 - t) * own[1],
                                                   t * sources[x][2] + (1.0 - t) * own[2], 1.0};
                        AddWeighted(sums, blended, w);
                    }
                }
                rowCells[xx] = sums;
            }
        }
    }
}

// One thread's share: its own weight table and row of sources, then strips
// until none is left. False when its working rows cannot be had.
[[nodiscard]] bool SpreadStrips(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
                                SumCell<float>* cells, StripQueue& queue) {
    const std::size_t width = static_cast<std::size_t>(f.width);
    auto weights = platform::WorkingArray<float>::Allocate(2 * width + 1);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(width);
    auto sources = platform::WorkingArray<SourceColour>::Allocate(width);
    if (!weights || !spreads || !sources) return false;
    float* const w = weights.data();
    uint8_t* const sp = spreads.data();
    SourceColour* const sc = sources.data();
    int32_t first = 0;
    int32_t end = 0;
    while (queue.Next(first, end)) {
        switch (s.FilterInclude) {
            case kIncludeObjects:
                Spread<kIncludeObjects>(f, s, fp, cells, w, sp, sc, first, end);
                break;
            case kIncludeBackground:
                Spread<kIncludeBackground>(f, s, fp, cells, w, sp, sc, first, end);
                break;
            case kIncludeShadows:
                Spread<kIncludeShadows>(f, s, fp, cells, w, sp, sc, first, end);
                break;
            case kIncludeFullFrame:
                Spread<kIncludeFullFrame>(f, s, fp, cells, w, sp, sc, first, end);
                break;
            case kIncludeColorRange:
                Spread<kIncludeColorRange>(f, s, fp, cells, w, sp, sc, first, end);
                break;
            default: return true;  // no pixel is selected
        }
    }
    return true;
}

}  // namespace

bool SofterBlurPass(const FrameView& frame, const FilterSettings& settings,
                    const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    Accumulators<float> acc = Accumulators<float>::Allocate(frame.PixelCount());
    if (!acc) return false;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }

    SumCell<float>* const cells = acc.data();
    const RowStrips strips = RowStrips::For(frame.width, frame.height);
    ForEachStrip(strips, [&](int32_t first, int32_t end) {
        const std::size_t o = frame.Index(0, first);
        SeedSums(frame.red + o, frame.green + o, frame.blue + o,
                 frame.Index(0, end) - o, cells + o);
    });
    if (params.BlurAmount > 0.0f) {
        footprint.Set(params.BlurAmount, kSofterAngleConstant);
        StripQueue queue(strips);
        std::atomic<bool> failed{false};
        ForEachTask(queue.Workers(), [&](int32_t) {
            if (!SpreadStrips(frame, settings, footprint, cells, queue)) failed = true;
        });
        if (failed) return false;
    }
    ForEachStrip(strips, [&](int32_t first, int32_t end) {
        const std::size_t o = frame.Index(0, first);
        WriteAverages(cells + o, frame.Index(0, end) - o, frame.red + o, frame.green + o,
                      frame.blue + o);
    });
    return true;
}

}  // namespace lumafex
