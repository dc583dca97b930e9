// The circular footprint over which the blur and depth-of-field passes
// spread a pixel. A centre in row y with radius r covers the rows
// y - R .. y + R (R = r truncated toward zero), clipped to the frame. Before
// each row, from the top, an angle grows by K / (r + 1); the row's
// half-width is r * sin(angle), truncated toward zero, and the row covers
// the columns x - hw .. x + hw, clipped to the frame.
//
// The angle starts with the first row inside the frame, so a centre near the
// top edge still begins with the narrow rows. The half-width of a row
// therefore depends only on r and on how many rows have been visited before
// it, which lets one table of half-widths serve every centre of one radius.
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"
#include "platform/memory.h"

namespace lumafex {

// The angle constant K: pi/2 in single precision for the plain blur, and a
// value a little under pi/2 for the softer blur and both depth-of-field
// passes. The difference decides some half-widths, so both are kept exactly.
inline constexpr float kBlurAngleConstant = 1.57079637f;    // 1.5707963705062866
inline constexpr float kSofterAngleConstant = 1.570795f;    // 1.5707950592041016

// Rows a footprint of this radius reaches above and below its centre: the
// radius truncated toward zero, 0 for a radius that is not above 0 (NaN
// included), and never more than limit (a reach beyond the frame's height
// visits no further rows).
int32_t FootprintReach(float radius, int32_t limit);

// The half-widths of one radius's footprint rows, in the order the rows are
// visited. Made for one frame size; the table is recomputed only when the
// radius changes.
class FootprintProfile {
public:
    // Obtains room for the rows of footprints of reach up to maxReach in a
    // frame of this size; the sines go on the widest lanes `set` allows.
    // False when the memory cannot be had.
    [[nodiscard]] bool Reserve(int32_t width, int32_t height, int32_t maxReach,
                               InstructionSet set = InstructionSet::Sse2);

    // Obtains room to keep the profiles of few rows made lately, so that a
    // radius that comes back (neighbouring centres often share one) takes
    // its widths from there. Call after Reserve. False when the memory
    // cannot be had.
    [[nodiscard]] bool KeepRecent();

    // Makes this the profile of radius r (above 0) with angle constant K.
    void Set(float radius, float angleConstant);

    float Radius() const { return radius_; }
    int32_t Reach() const { return reach_; }

    // First and last row of the footprint of a centre in row y.
    int32_t Top(int32_t y) const { return y > reach_ ? y - reach_ : 0; }
    int32_t Bottom(int32_t y) const {
        return height_ - 1 - y > reach_ ? y + reach_ : height_ - 1;
    }
    // Half-width of the k-th visited row (k = row - Top(y)). Between -1 (a
    // row that covers nothing, only possible when rounding carries the angle
    // past pi) and the frame width.
    int32_t HalfWidth(int32_t k) const { return current_[k]; }

    // The widest half-width of the current profile (at least 0).
    int32_t MaxHalfWidth() const { return maxHalfWidth_; }

private:
    // A kept profile: which radius and constant, and its widest row; its
    // widths are its slot's row of keptWidths_.
    struct Kept {
        float radius;
        float angleConstant;
        int32_t maxHalfWidth;
    };
    static constexpr int32_t kKeptSlots = 512;  // by a hash of the radius
    static constexpr int32_t kKeptRows = 32;    // profiles of more rows are not kept

    // Works out the half-widths of the current radius and constant.
    void Make(int32_t* halfWidths);

    platform::WorkingArray<int32_t> halfWidths_;
    platform::WorkingArray<Kept> kept_;
    platform::WorkingArray<int32_t> keptWidths_;
    const int32_t* current_ = nullptr;  // the current profile's half-widths
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t capacity_ = 0;
    float radius_ = 0.0f;
    float angleConstant_ = 0.0f;
    int32_t reach_ = 0;
    int32_t maxHalfWidth_ = 0;
    bool valid_ = false;
    InstructionSet set_ = InstructionSet::Sse2;
};

// The first and last column of a footprint row of half-width hw around
// column x, clipped to a frame of this width. Empty (first > last) for a
// negative half-width.
struct ColumnSpan {
    int32_t first;
    int32_t last;
};
inline ColumnSpan FootprintColumns(int32_t x, int32_t halfWidth, int32_t width) {
    // Compared before adding, so that no sum can leave the 32-bit range.
    return {halfWidth >= x ? 0 : x - halfWidth,
            halfWidth >= width - 1 - x ? width - 1 : x + halfWidth};
}

}  // namespace lumafex
