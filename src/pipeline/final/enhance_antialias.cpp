// Enhance and antialias, pass after pass. Within one pass, row y is first
// enhanced against its left neighbour (both as the pass found them); then,
// with antialias on, each pixel of the enhanced row is pulled toward its
// left and right neighbours in that enhanced row, toward the pixel above as
// enhanced but not yet antialiased, and toward the pixel below as the pass
// found it. Rows 2 .. H-2 change (columns 1 .. W-2 by antialias, the whole
// row by enhance); rows 0, 1 and H-1 never do.
//
// So each row's result depends only on the pass's input rows y-1, y and
// y+1, and the rows can be worked out in strips on the threads. A strip
// writes its rows in place from the top, keeping the enhanced row above at
// hand; the two input rows just outside it, which the neighbouring strips
// may already have rewritten, are copied before the threads start.
//
// No pixel's result depends on another result of the same row, so a row is
// worked on vector lanes, a run of pixels at a time, with the strengths as
// multiply-and-shift forms checked against the per-difference tables for
// the frame (see byte_steps.h). The scalar rows remain for frames too
// narrow for a run and for strengths no such form matches.
#include "pipeline/final/enhance_antialias.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "pipeline/final/byte_steps.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/lanes/short_lanes.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "platform/memory.h"

namespace lumafex {

namespace {

// The red, green and blue rows of one line of the frame or of a work line.
struct Channels {
    uint8_t* c[3];
};

Channels FrameRow(const FrameView& f, int32_t y) {
    const std::size_t o = f.Index(0, y);
    return {{f.red + o, f.green + o, f.blue + o}};
}

void CopyRow(const Channels& from, const Channels& to, std::size_t bytes) {
    for (int c = 0; c < 3; ++c) std::memcpy(to.c[c], from.c[c], bytes);
}

// PixelSelected with the mode fixed for the pass.
template <int32_t Mode>
bool Selected(const FilterSettings& s, uint8_t alpha, uint8_t shadow, uint8_t r, uint8_t g, uint8_t b) {
    if constexpr (Mode == kIncludeObjects) return alpha != 0;
    if constexpr (Mode == kIncludeBackground) return alpha == 0;
    if constexpr (Mode == kIncludeShadows) return shadow != 0;
    if constexpr (Mode == kIncludeFullFrame) return true;
    if constexpr (Mode == kIncludeColorRange) return InColorRange(s, r, g, b);
    return false;
}

// What one pass works with.
struct PassValues {
    const FrameView& f;
    const FilterSettings& s;
    bool enhance = false;
    bool antialias = false;
    bool vertical = false;  // antialias looks up and down too (not with fields)
    bool markOnly = false;  // antialias strength 0: edges are only marked
    StepTable enhanceBy{};
    StepTable softenBy{};
    uint8_t differs[511] = {};  // |d| reaches the antialias threshold
    int16_t reach = 256;        // the least |d| that does, 256 for none
    // The same steps for the lanes, when a form matches the tables.
    bool enhanceOnLanes = false;
    bool softenOnLanes = false;
    bool softenBetween = false;  // every applied lane step lies between 0 and d
    LaneSteps enhanceLanes{};
    LaneSteps softenLanes{};
};

// Sharpens row y (colours in, as the pass found them) against each pixel's
// left neighbour into out.
template <int32_t Mode>
void EnhanceRow(const PassValues& v, int32_t y, const Channels& in, const Channels& out) {
    const FrameView& f = v.f;
    const std::size_t o = f.Index(0, y);
    for (int c = 0; c < 3; ++c) out.c[c][0] = in.c[c][0];
    for (int32_t x = 1; x < f.width; ++x) {
        const bool selected =
            Selected<Mode>(v.s, f.alpha[o + x], f.shadow[o + x], in.c[0][x], in.c[1][x], in.c[2][x]);
        for (int c = 0; c < 3; ++c) {
            const int32_t now = in.c[c][x];
            const int32_t left = in.c[c][x - 1];
            out.c[c][x] = selected ? v.enhanceBy.Apply(now, now - left) : static_cast<uint8_t>(now);
        }
    }
}

// Pulls each channel of the pixel toward the neighbour's value when they
// differ by at least the threshold. At strength 0 the pixel is only marked
// as an edge.
inline void SoftenAgainst(const PassValues& v, int32_t (&value)[3], const Channels& neighbourRow, int32_t nx,
                          bool& markEdge) {
    // Written without branches on the pixel values: on detailed frames the
    // threshold test is unpredictable, and selecting between the softened
    // and the kept value costs less than a mispredicted jump.
    for (int c = 0; c < 3; ++c) {
        const int32_t now = value[c];
        const int32_t d = neighbourRow.c[c][nx] - now;
        const bool qualifies = v.differs[d + 255] != 0;
        markEdge |= qualifies & v.markOnly;
        const int32_t softened = v.softenBy.Apply(now, d);
        value[c] = (qualifies & !v.markOnly) ? softened : now;
    }
}

// Antialiases the enhanced row y (row) with the enhanced row above and the
// pass's input row below into out; the end columns keep the enhanced row.
template <int32_t Mode>
void AntialiasRow(const PassValues& v, int32_t y, const Channels& row, const Channels& above,
                  const Channels& below, const Channels& out) {
    const FrameView& f = v.f;
    const std::size_t o = f.Index(0, y);
    const int32_t w = f.width;
    for (int c = 0; c < 3; ++c) {
        out.c[c][0] = row.c[c][0];
        out.c[c][w - 1] = row.c[c][w - 1];
    }
    for (int32_t x = 1; x < w - 1; ++x) {
        int32_t value[3] = {row.c[0][x], row.c[1][x], row.c[2][x]};
        bool markEdge = false;
        if (Selected<Mode>(v.s, f.alpha[o + x], f.shadow[o + x], row.c[0][x], row.c[1][x], row.c[2][x])) {
            SoftenAgainst(v, value, row, x - 1, markEdge);
            SoftenAgainst(v, value, row, x + 1, markEdge);
            if (v.vertical) {
                SoftenAgainst(v, value, above, x, markEdge);
                SoftenAgainst(v, value, below, x, markEdge);
            }
        }
        for (int c = 0; c < 3; ++c) {
            out.c[c][x] = markEdge ? 255 : static_cast<uint8_t>(value[c]);
        }
    }
}

using EnhanceFunction = void (*)(const PassValues&, int32_t, const Channels&, const Channels&);
using AntialiasFunction = void (*)(const PassValues&, int32_t, const Channels&, const Channels&,
                                   const Channels&, const Channels&);

#if LUMAFEX_SHORT_LANES
// The row loops on lanes, compiled once for each kind of lanes: the wide
// copy with the wider instructions enabled for every function in it.
namespace narrow {
using L = Sse2ShortLanes;
#include "pipeline/final/enhance_antialias_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2ShortLanes;
#include "pipeline/final/enhance_antialias_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif
#endif

// How the rows of this frame are worked.
struct RowFunctions {
    EnhanceFunction enhance;
    AntialiasFunction antialias;
};

template <int32_t Mode>
RowFunctions ChooseRows(const PassValues& v, [[maybe_unused]] InstructionSet set) {
    RowFunctions rows{EnhanceRow<Mode>, AntialiasRow<Mode>};
#if LUMAFEX_SHORT_LANES
    // A row needs one whole run between its end columns.
    const bool softenOnLanes = v.markOnly || v.softenOnLanes;
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx2Fma) && v.f.width - 2 >= Avx2ShortLanes::kCount) {
        if (v.enhanceOnLanes) rows.enhance = wide::EnhanceRow<Mode>;
        if (softenOnLanes) rows.antialias = wide::AntialiasFor<Mode>(v);
        return rows;
    }
#endif
    if (v.f.width - 2 >= Sse2ShortLanes::kCount) {
        if (v.enhanceOnLanes) rows.enhance = narrow::EnhanceRow<Mode>;
        if (softenOnLanes) rows.antialias = narrow::AntialiasFor<Mode>(v);
    }
#endif
    return rows;
}

// Six work lines of one thread: the enhanced row above and the enhanced row.
struct ThreadLines {
    Channels above, row;
};

// The input rows just outside a strip, copied before any strip is written.
struct Borders {
    uint8_t* data = nullptr;  // per strip: the row above it, then the row below it
    std::size_t width = 0;
    Channels Row(int32_t strip, int which) const {
        uint8_t* base = data + (static_cast<std::size_t>(strip) * 2 + which) * 3 * width;
        return {{base, base + width, base + 2 * width}};
    }
};

// One pass over the rows first .. end-1 of strip `strip`, in place.
void PassOverStrip(const PassValues& v, const RowFunctions& rows, const RowStrips& strips,
                   const Borders& borders, int32_t strip, const ThreadLines& lines) {
    const FrameView& f = v.f;
    const int32_t first = strips.First(strip) > 2 ? strips.First(strip) : 2;
    const int32_t end = strips.End(strip) < f.height - 1 ? strips.End(strip) : f.height - 1;
    if (first >= end) return;
    const auto bytes = static_cast<std::size_t>(f.width);
    // The row above the first one: as enhanced this pass (row 1 never is).
    const Channels outsideAbove =
        first - 1 >= strips.First(strip) ? FrameRow(f, first - 1) : borders.Row(strip, 0);
    if (v.enhance && first - 1 >= 2) {
        rows.enhance(v, first - 1, outsideAbove, lines.above);
    } else {
        CopyRow(outsideAbove, lines.above, bytes);
    }
    Channels above = lines.above;
    Channels row = lines.row;
    for (int32_t y = first; y < end; ++y) {
        const Channels here = FrameRow(f, y);
        if (v.enhance) {
            rows.enhance(v, y, here, row);
        } else {
            CopyRow(here, row, bytes);
        }
        if (v.antialias) {
            // The row below as the pass found it: this strip's own row not yet
            // written, or the copy of the next strip's first row. Row y itself
            // is read no more (its enhanced form is in row), so the result
            // goes straight into it.
            const Channels below = y + 1 < strips.End(strip) ? FrameRow(f, y + 1) : borders.Row(strip, 1);
            rows.antialias(v, y, row, above, below, here);
        } else {
            CopyRow(row, here, bytes);
        }
        const Channels done = above;
        above = row;
        row = done;
    }
}

void RunPasses(const FrameView& frame, const FilterSettings& settings, const PassValues& v,
               const RowFunctions& rows, const WorkLines& lines) {
    const auto width = static_cast<std::size_t>(frame.width);
    RowStrips strips = RowStrips::For(frame.width, frame.height);
    // Two border rows of three channels per strip; without them the frame
    // is one strip, which needs none.
    auto borderBlock =
        strips.Count() > 1
            ? platform::WorkingArray<uint8_t>::Allocate(6 * width * static_cast<std::size_t>(strips.Count()))
            : platform::WorkingArray<uint8_t>();
    if (!borderBlock) strips.perStrip = strips.rows;
    const Borders borders{borderBlock.data(), width};
    const ThreadLines callerLines{{{lines.scratchRed, lines.scratchGreen, lines.scratchBlue}},
                                  {{lines.pendingOldRed, lines.pendingOldGreen, lines.pendingOldBlue}}};

    for (int32_t pass = 1; pass <= settings.Passes; ++pass) {
        if (strips.Count() > 1) {
            for (int32_t strip = 0; strip < strips.Count(); ++strip) {
                const int32_t above = strips.First(strip) - 1;
                const int32_t below = strips.End(strip);
                if (above >= 0) CopyRow(FrameRow(frame, above), borders.Row(strip, 0), width);
                if (below < frame.height) {
                    CopyRow(FrameRow(frame, below), borders.Row(strip, 1), width);
                }
            }
        }
        StripQueue queue(strips);
        ForEachTask(queue.Workers(), [&](int32_t task) {
            // The first task uses the final pass's lines; the others their own,
            // or they leave their strips to the tasks that have lines.
            platform::WorkingArray<uint8_t> own;
            ThreadLines mine = callerLines;
            if (task != 0) {
                own = platform::WorkingArray<uint8_t>::Allocate(6 * width);
                if (!own) return;
                uint8_t* b = own.data();
                mine = {{{b, b + width, b + 2 * width}}, {{b + 3 * width, b + 4 * width, b + 5 * width}}};
            }
            int32_t strip = 0;
            while (queue.NextStrip(strip)) PassOverStrip(v, rows, strips, borders, strip, mine);
        });
    }
}

}  // namespace

void EnhanceAndAntialias(const FrameView& frame, const FilterSettings& settings,
                         const FrameParameters& params, const WorkLines& lines) {
    // Rows 2 to H - 2 are processed; with three rows or fewer there are none,
    // and a frame too small for that never reads a row it lacks.
    if (frame.height <= 3 || frame.width <= 0) return;
    // A mode that selects no pixel leaves every pixel as it is.
    if (settings.FilterInclude < kIncludeObjects || settings.FilterInclude > kIncludeColorRange) {
        return;
    }
    PassValues v{frame, settings};
    v.enhance = settings.SharpenFlag != 0;
    v.antialias = settings.SmoothFlag != 0;
    v.vertical = params.FieldRendering != 8;
    v.markOnly = params.AntialiasAmount == 0.0f;
    v.enhanceBy.Fill(params.EnhanceAmount);
    v.softenBy.Fill(params.AntialiasAmount);
    const double threshold = params.AntialiasThreshold;
    for (int32_t d = -255; d <= 255; ++d) v.differs[d + 255] = !(std::abs(d) < threshold) ? 1 : 0;
    // The test grows with |d|, so it is |d| >= reach.
    for (int32_t d = 255; d >= 0; --d) {
        if (v.differs[d + 255] != 0) v.reach = static_cast<int16_t>(d);
    }
    v.enhanceOnLanes = v.enhanceLanes.Match(params.EnhanceAmount, v.enhanceBy, 0);
    v.softenOnLanes = v.softenLanes.Match(params.AntialiasAmount, v.softenBy, v.reach);
    v.softenBetween = v.softenOnLanes && v.softenLanes.StaysBetween(v.reach);
    RowFunctions rows{};
    WithMode(settings.FilterInclude, [&](auto mode) {
        rows = ChooseRows<decltype(mode)::value>(v, params.instructionSet);
    });
    RunPasses(frame, settings, v, rows, lines);
}

}  // namespace lumafex
