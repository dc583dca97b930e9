#include "pipeline/final/enhance_antialias.h"

#include <cstdlib>
#include <cstring>

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"

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

// Sharpens row y against each pixel's left neighbour, both as the row was
// before this enhance: the results go to the scratch lines first and are
// copied over the whole row at the end.
void EnhanceRow(const FrameView& f, int32_t y, const FilterSettings& s, double amount,
                const Channels& scratch) {
    const Channels row = FrameRow(f, y);
    const std::size_t o = f.Index(0, y);
    for (int c = 0; c < 3; ++c) scratch.c[c][0] = row.c[c][0];
    for (int32_t x = 1; x < f.width; ++x) {
        const bool selected = PixelSelected(s, f.alpha[o + x], f.shadow[o + x], row.c[0][x],
                                            row.c[1][x], row.c[2][x]);
        for (int c = 0; c < 3; ++c) {
            const int32_t v = row.c[c][x];
            const int32_t w = row.c[c][x - 1];
            scratch.c[c][x] = selected ? LimitToByte((v - w) * amount + v)
                                       : static_cast<uint8_t>(v);
        }
    }
    CopyRow(scratch, row, static_cast<std::size_t>(f.width));
}

// Pulls each channel of the pixel toward the neighbour's value when they
// differ by at least the threshold. At strength 0 the pixel is only marked
// as an edge.
inline void SoftenAgainst(int32_t (&value)[3], const Channels& neighbourRow, int32_t nx,
                          double threshold, double amount, bool& markEdge) {
    // Written without branches on the pixel values: on detailed frames the
    // threshold test is unpredictable, and selecting between the softened
    // and the kept value costs less than a mispredicted jump.
    const bool markOnly = amount == 0.0;
    for (int c = 0; c < 3; ++c) {
        const int32_t v = value[c];
        const int32_t d = neighbourRow.c[c][nx] - v;
        const bool qualifies = !(std::abs(d) < threshold);
        markEdge |= qualifies & markOnly;
        // Clamped: a strength outside 0..1 would otherwise wrap the byte.
        const int32_t softened = LimitToByte(d * amount + v);
        value[c] = qualifies & !markOnly ? softened : v;
    }
}

// Antialiases row y into the scratch lines and moves the results through
// the two delay lines, writing row y - 2 back to the frame. The delay lets
// every neighbour read see values this pass has not yet antialiased.
void AntialiasRow(const FrameView& f, int32_t y, const FilterSettings& s,
                  const FrameParameters& p, const Channels& scratch, const Channels& pendingOld,
                  const Channels& pendingNew) {
    const Channels row = FrameRow(f, y);
    const Channels above = FrameRow(f, y - 1);
    const Channels below = FrameRow(f, y + 1);
    const Channels twoAbove = FrameRow(f, y - 2);
    const std::size_t o = f.Index(0, y);
    const double threshold = p.AntialiasThreshold;
    const double amount = p.AntialiasAmount;
    const bool vertical = p.FieldRendering != 8;
    bool markEdge = false;
    for (int32_t x = 1; x < f.width - 1; ++x) {
        // The scratch pixel, kept in locals while its neighbours pull on it.
        int32_t value[3] = {row.c[0][x], row.c[1][x], row.c[2][x]};
        if (PixelSelected(s, f.alpha[o + x], f.shadow[o + x], row.c[0][x], row.c[1][x],
                          row.c[2][x])) {
            SoftenAgainst(value, row, x - 1, threshold, amount, markEdge);
            SoftenAgainst(value, row, x + 1, threshold, amount, markEdge);
            if (vertical) {
                SoftenAgainst(value, above, x, threshold, amount, markEdge);
                SoftenAgainst(value, below, x, threshold, amount, markEdge);
            }
        }
        for (int c = 0; c < 3; ++c) {
            twoAbove.c[c][x] = pendingOld.c[c][x];
            pendingOld.c[c][x] = pendingNew.c[c][x];
            scratch.c[c][x] = static_cast<uint8_t>(value[c]);
            pendingNew.c[c][x] = markEdge ? 255 : scratch.c[c][x];
        }
        markEdge = false;
    }
}

}  // namespace

void EnhanceAndAntialias(const FrameView& frame, const FilterSettings& settings,
                         const FrameParameters& params, const WorkLines& lines) {
    // Rows 2 to H - 2 are processed; with three rows or fewer there are none,
    // and a frame too small for that never reads a row it lacks.
    if (frame.height <= 3 || frame.width <= 0) return;
    const bool enhance = settings.SharpenFlag != 0;
    const bool antialias = settings.SmoothFlag != 0;
    const Channels scratch{{lines.scratchRed, lines.scratchGreen, lines.scratchBlue}};
    const Channels pendingOld{{lines.pendingOldRed, lines.pendingOldGreen, lines.pendingOldBlue}};
    const Channels pendingNew{{lines.pendingNewRed, lines.pendingNewGreen, lines.pendingNewBlue}};
    const auto bytes = static_cast<std::size_t>(frame.width);
    const double enhanceAmount = params.EnhanceAmount;

    for (int32_t pass = 1; pass <= settings.Passes; ++pass) {
        CopyRow(FrameRow(frame, 0), pendingOld, bytes);
        CopyRow(FrameRow(frame, 1), pendingNew, bytes);
        for (int32_t y = 2; y <= frame.height - 2; ++y) {
            if (enhance) EnhanceRow(frame, y, settings, enhanceAmount, scratch);
            if (antialias) AntialiasRow(frame, y, settings, params, scratch, pendingOld, pendingNew);
        }
        if (antialias) {
            // The last two processed rows still wait in the delay lines.
            const Channels rowH3 = FrameRow(frame, frame.height - 3);
            const Channels rowH2 = FrameRow(frame, frame.height - 2);
            for (int32_t x = 1; x < frame.width - 1; ++x) {
                for (int c = 0; c < 3; ++c) {
                    rowH3.c[c][x] = pendingOld.c[c][x];
                    rowH2.c[c][x] = pendingNew.c[c][x];
                }
            }
        }
    }
}

}  // namespace lumafex
