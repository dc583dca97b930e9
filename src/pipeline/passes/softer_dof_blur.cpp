// The softer depth-of-field blur. Centres, blur amounts, footprints and the
// separator rule are those of the depth-of-field blur; each contribution
// here carries the weight w = bc - distance, falling to nothing at the
// centre's blur radius, and is accumulated without truncation. Receivers are
// not tested against the selection or DOFBlurSide: any out-of-focus pixel
// near a selected centre takes part of its colour.
//
// The sums are single-precision values rounded after every addition, so
// centres are visited in row order and their footprints from the top, left
// to right: that fixes the order of the additions into every pixel.
#include "pipeline/passes/softer_dof_blur.h"

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_weights.h"

namespace lumafex {

namespace {

// The weights of one centre's footprint rows for its blur, kept from one
// centre to the next while the blur stays the same (whole regions of a frame
// share their blur). Where a table for the largest possible blur would be
// too large (only a vast MaxDOFBlur gets there), each row's weights are
// worked out as it is visited instead.
class FootprintWeights {
public:
    // rowReach and columnReach: the largest reach of a footprint above and
    // beside its centre, each already limited by the frame.
    bool Reserve(int32_t width, int32_t rowReach, int32_t columnReach) {
        const int64_t rows = 2 * static_cast<int64_t>(rowReach) + 1;
        const int64_t columns = 2 * static_cast<int64_t>(columnReach) + 1;
        constexpr int64_t kLargestTable = int64_t{1} << 20;
        if (rows <= kLargestTable / columns) {
            table_ = platform::WorkingArray<float>::Allocate(
                static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
            positive_ =
                platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(rows));
            return table_ && positive_;
        }
        row_ = platform::WorkingArray<float>::Allocate(2 * static_cast<std::size_t>(width) + 1);
        return static_cast<bool>(row_);
    }

    // Makes the table that of the footprint's current blur.
    void Set(const FootprintProfile& footprint) {
        if (!table_ || (valid_ && footprint.Radius() == radius_)) return;
        valid_ = true;
        radius_ = footprint.Radius();
        reach_ = footprint.Reach();
        centre_ = footprint.MaxHalfWidth();
        stride_ = 2 * static_cast<std::size_t>(centre_) + 1;
        for (int32_t dy = -reach_; dy <= reach_; ++dy) {
            positive_[static_cast<std::size_t>(dy + reach_)] =
                FillWeights(radius_, dy, centre_, RowStart(dy));
        }
    }

    // The weights of the footprint row dy away from the centre, whose
    // half-width is hw: weights[centre + dx]. Returns how far from the centre
    // they stay above 0, at most hw.
    int32_t Row(float radius, int32_t dy, int32_t hw, const float*& weights, int32_t& centre) {
        int32_t positive;
        if (table_) {
            weights = RowStart(dy);
            centre = centre_;
            positive = positive_[static_cast<std::size_t>(dy + reach_)];
        } else {
            weights = row_.data();
            centre = hw;
            positive = FillWeights(radius, dy, hw, row_.data());
        }
        return positive < hw ? positive : hw;
    }

private:
    float* RowStart(int32_t dy) const {
        return table_.data() + static_cast<std::size_t>(dy + reach_) * stride_;
    }
    platform::WorkingArray<float> table_;
    platform::WorkingArray<int32_t> positive_;
    platform::WorkingArray<float> row_;
    bool valid_ = false;
    float radius_ = 0.0f;
    int32_t reach_ = 0;
    int32_t centre_ = 0;
    std::size_t stride_ = 1;
};

// Objects Only limits how much of the centre's colour a receiver takes by
// its weight as well: a = min(1, t x w). The other modes take a = t.
template <bool ObjectsOnly>
void Spread(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
            const DepthRows& depth, FootprintProfile& footprint, FootprintWeights& weights,
            NeighbourRows& blurs, SumCell<float>* cells) {
    const double separator = p.DOFSeperator;
    for (int32_t y = 0; y < f.height; ++y) {
        blurs.Advance(y, depth, [&](int32_t row, float* out) {
            const float* const d = depth.Row(row);
            for (int32_t x = 0; x < f.width; ++x) out[x] = DepthBlur(d[x], p);
        });
        const float* const centreBlur = blurs.Blur(y);
        const float* const centreDepth = depth.Row(y);
        for (int32_t x = 0; x < f.width; ++x) {
            const float bc = centreBlur[x];
            if (!(bc > 0.0f)) continue;
            const std::size_t c = f.Index(x, y);
            if (!PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                continue;
            }
            footprint.Set(bc, kSofterAngleConstant);
            weights.Set(footprint);
            const double dcd = centreDepth[x];
            const double cr = f.red[c];
            const double cg = f.green[c];
            const double cb = f.blue[c];
            const double colour[4] = {cr, cg, cb, 1.0};
            const int32_t top = footprint.Top(y);
            const int32_t bottom = footprint.Bottom(y);
            for (int32_t yy = top; yy <= bottom; ++yy) {
                const float* w;
                int32_t centre;
                const int32_t reach =
                    weights.Row(bc, yy - y, footprint.HalfWidth(yy - top), w, centre);
                if (reach < 0) continue;  // nothing in this row lies within bc
                const ColumnSpan span = FootprintColumns(x, reach, f.width);
                const std::size_t row = f.Index(0, yy);
                const int32_t base = centre - x;  // w[base + xx] is the weight at column xx
                if (!ObjectsOnly && blurs.Uniform(yy, span.first, span.last, bc, dcd, separator)) {
                    // Every pixel of the span shares the centre's blur (t = 1,
                    // so a = 1): each takes c x w, exactly as below.
                    SumCell<float>* const rowCells = cells + row;
                    for (int32_t xx = span.first; xx <= span.last; ++xx) {
                        AddWeighted(rowCells[xx], colour, w[base + xx]);
                    }
                    continue;
                }
                const float* const rowDepth = depth.Row(yy);
                const float* const rowBlur = blurs.Blur(yy);
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    // The separator rule, the sum in double and not rounded.
                    if (static_cast<double>(rowDepth[xx]) + separator < dcd) continue;
                    const float weight = w[base + xx];
                    const float bn = rowBlur[xx];
                    // t = min / max rounded to single: 1 for equal blurs, 0
                    // for an in-focus neighbour.
                    float t;
                    if (bn == bc) {
                        t = 1.0f;
                    } else {
                        const float lo = bn < bc ? bn : bc;
                        const float hi = bn < bc ? bc : bn;
                        t = static_cast<float>(static_cast<double>(lo) /
                                               static_cast<double>(hi));
                    }
                    float a = t;
                    if constexpr (ObjectsOnly) {
                        const double tw = static_cast<double>(t) * static_cast<double>(weight);
                        a = static_cast<float>(tw < 1.0 ? tw : 1.0);
                    }
                    const double wd = weight;
                    const std::size_t n = row + static_cast<std::size_t>(xx);
                    SumCell<float>& cell = cells[n];
                    if (a == 1.0f) {
                        // (c x 1 + own x 0) x w is exactly c x w.
                        AddWeighted(cell, colour, wd);
                    } else {
                        // (c x a + own x (1 - a)) x w, 1 - a in single; with a = 0
                        // this is exactly own x w.
                        const double ad = a;
                        const double bd = static_cast<float>(1.0 - ad);
                        const double mixed[4] = {cr * ad + f.red[n] * bd, cg * ad + f.green[n] * bd,
                                                 cb * ad + f.blue[n] * bd, 1.0};
                        AddWeighted(cell, mixed, wd);
                    }
                }
            }
        }
    }
}

}  // namespace

bool SofterDepthOfFieldBlurPass(const FrameView& frame, const FilterSettings& settings,
                                const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    // Without a depth buffer there is nothing to measure the focus by.
    if (!frame.HasDepth()) return false;
    // The large array first: when it cannot be had, nothing else is asked of
    // the host or the heap.
    Accumulators<float> acc = Accumulators<float>::Allocate(frame.PixelCount());
    if (!acc) return false;
    const float largest = LargestDepthBlur(params);
    const int32_t reach = FootprintReach(largest, frame.height);
    FootprintProfile footprint;
    FootprintWeights weights;
    NeighbourRows blurs;
    if (!footprint.Reserve(frame.width, frame.height, reach) ||
        !weights.Reserve(frame.width, reach, FootprintReach(largest, frame.width)) ||
        !blurs.Reserve(frame.width, frame.height, reach)) {
        return false;
    }
    DepthRows depth;
    if (!depth.Fetch(frame)) return false;

    SumCell<float>* const cells = acc.data();
    SeedSums(frame.red, frame.green, frame.blue, frame.PixelCount(), cells);
    if (settings.FilterInclude == kIncludeObjects) {
        Spread<true>(frame, settings, params, depth, footprint, weights, blurs, cells);
    } else if (settings.FilterInclude >= kIncludeBackground &&
               settings.FilterInclude <= kIncludeColorRange) {
        Spread<false>(frame, settings, params, depth, footprint, weights, blurs, cells);
    }  // any other mode selects no centre
    // The quotient in double, raised to 0, limited to 255, truncated.
    for (std::size_t i = 0; i < frame.PixelCount(); ++i) {
        const SumCell<float>& cell = cells[i];
        if (!(cell.count > 0.0f)) continue;
        const double weight = cell.count;
        frame.red[i] = LimitToByte(static_cast<double>(cell.red) / weight);
        frame.green[i] = LimitToByte(static_cast<double>(cell.green) / weight);
        frame.blue[i] = LimitToByte(static_cast<double>(cell.blue) / weight);
    }
    return true;
}

}  // namespace lumafex
