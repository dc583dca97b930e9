// The plain blur. Every selected pixel adds its colour to every pixel of its
// footprint (radius BlurAmount), each receiver counting the contributions;
// afterwards every pixel becomes the integer average of its own colour and
// what it received. All tests and colours are read from the frame as it was
// when the pass began; the planes change only at the write-back.
//
// Every contribution is an integer of its own and the sums are integers, so
// the order of the additions does not matter. That lets the pass take the
// contributions of one spreading row to one footprint row all at once: all
// pixels of a row share their footprint's shape, so a receiver gets exactly
// the spreading pixels of the row within the half-width of that footprint
// row, whose sums come from prefix sums of the row.
#include "pipeline/passes/blur.h"

#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"

namespace lumafex {

namespace {

// Sums over the spreading pixels of one row, for the columns before x: their
// colours, how many they are, and how many have an odd value per channel.
struct RowPrefix {
    int64_t red, green, blue, count, oddRed, oddGreen, oddBlue;
};

// Fills prefix[0..width] for row y; false when no pixel of the row spreads.
bool BuildRowPrefix(const FrameView& f, const FilterSettings& s, int32_t y, RowPrefix* prefix) {
    RowPrefix sum{};
    prefix[0] = sum;
    for (int32_t x = 0; x < f.width; ++x) {
        const std::size_t i = f.Index(x, y);
        if (PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i], f.blue[i])) {
            sum.red += f.red[i];
            sum.green += f.green[i];
            sum.blue += f.blue[i];
            sum.count += 1;
            sum.oddRed += f.red[i] & 1;
            sum.oddGreen += f.green[i] & 1;
            sum.oddBlue += f.blue[i] & 1;
        }
        prefix[static_cast<std::size_t>(x) + 1] = sum;
    }
    return sum.count != 0;
}

// How a receiving pixel takes a contribution, by selection mode: the whole
// colour, the average of its own and the spread colour, or nothing.
enum class Take { Full, Half, None };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Half;
    }
    return Take::Full;
}

// The sum of (own + c) / 2 over n spreading values c, each division dropping
// its remainder: (n x own + sum of c - number of odd own + c) / 2, where
// own + c is odd for the odd c when own is even and for the even c when
// own is odd. The numerator is even, so the division is exact.
int64_t HalfSum(int64_t own, int64_t n, int64_t sum, int64_t odd) {
    const int64_t oddTotals = (own & 1) != 0 ? n - odd : odd;
    return (n * own + sum - oddTotals) / 2;
}

template <int32_t Mode, typename Sum>
void Spread(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            SumCell<Sum>* cells, RowPrefix* prefix) {
    const int32_t w = f.width;
    for (int32_t y = 0; y < f.height; ++y) {
        if (!BuildRowPrefix(f, s, y, prefix)) continue;
        const int32_t top = footprint.Top(y);
        const int32_t bottom = footprint.Bottom(y);
        for (int32_t yy = top; yy <= bottom; ++yy) {
            const int32_t hw = footprint.HalfWidth(yy - top);
            if (hw < 0) continue;
            const std::size_t row = f.Index(0, yy);
            for (int32_t x = 0; x < w; ++x) {
                // The spreading pixels whose rows reach x: columns x - hw .. x + hw.
                const ColumnSpan span = FootprintColumns(x, hw, w);
                const RowPrefix& a = prefix[static_cast<std::size_t>(span.first)];
                const RowPrefix& b = prefix[static_cast<std::size_t>(span.last) + 1];
                const int64_t n = b.count - a.count;
                if (n == 0) continue;
                const std::size_t j = row + static_cast<std::size_t>(x);
                SumCell<Sum>& cell = cells[j];
                switch (TakeOf<Mode>(s, f, j)) {
                    case Take::Full:
                        cell.red += static_cast<Sum>(b.red - a.red);
                        cell.green += static_cast<Sum>(b.green - a.green);
                        cell.blue += static_cast<Sum>(b.blue - a.blue);
                        cell.count += static_cast<Sum>(n);
                        break;
                    case Take::Half:
                        cell.red += static_cast<Sum>(
                            HalfSum(f.red[j], n, b.red - a.red, b.oddRed - a.oddRed));
                        cell.green += static_cast<Sum>(
                            HalfSum(f.green[j], n, b.green - a.green, b.oddGreen - a.oddGreen));
                        cell.blue += static_cast<Sum>(
                            HalfSum(f.blue[j], n, b.blue - a.blue, b.oddBlue - a.oddBlue));
                        cell.count += static_cast<Sum>(n);
                        break;
                    case Take::None: break;
                }
            }
        }
    }
}

template <typename Sum>
bool Run(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
         const FootprintProfile& footprint) {
    Accumulators<Sum> acc = Accumulators<Sum>::Allocate(f.PixelCount());
    auto prefix = platform::WorkingArray<RowPrefix>::Allocate(
        static_cast<std::size_t>(f.width) + 1);
    if (!acc || !prefix) return false;
    SumCell<Sum>* const cells = acc.data();
    SeedSums(f.red, f.green, f.blue, f.PixelCount(), cells);
    if (p.BlurAmount > 0.0f) {
        RowPrefix* const pre = prefix.data();
        switch (s.FilterInclude) {
            case kIncludeObjects: Spread<kIncludeObjects>(f, s, footprint, cells, pre); break;
            case kIncludeBackground: Spread<kIncludeBackground>(f, s, footprint, cells, pre); break;
            case kIncludeShadows: Spread<kIncludeShadows>(f, s, footprint, cells, pre); break;
            case kIncludeFullFrame: Spread<kIncludeFullFrame>(f, s, footprint, cells, pre); break;
            case kIncludeColorRange: Spread<kIncludeColorRange>(f, s, footprint, cells, pre); break;
            default: break;  // no pixel is selected
        }
    }
    WriteAverages(cells, f.PixelCount(), f.red, f.green, f.blue);
    return true;
}

}  // namespace

bool BlurPass(const FrameView& frame, const FilterSettings& settings,
              const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }
    if (params.BlurAmount > 0.0f) footprint.Set(params.BlurAmount, kBlurAngleConstant);

    const int64_t rows = 2 * static_cast<int64_t>(footprint.Reach()) + 1;
    const int64_t columns = 2 * static_cast<int64_t>(footprint.MaxHalfWidth()) + 1;
    if (NeedsWideSums(rows < frame.height ? rows : frame.height,
                      columns < frame.width ? columns : frame.width)) {
        return Run<int64_t>(frame, settings, params, footprint);
    }
    return Run<int32_t>(frame, settings, params, footprint);
}

}  // namespace lumafex
