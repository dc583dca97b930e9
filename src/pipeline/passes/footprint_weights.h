// The weights of the softer depth-of-field blur's footprint rows for one
// blur, kept while the blur stays the same (see FootprintWeights).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_weights.h"
#include "platform/memory.h"

namespace lumafex {

// The weights of one centre's footprint rows for its blur, kept from one
// centre to the next while the blur stays the same (whole regions of a frame
// share their blur). Where a table for the largest possible blur would be
// too large (only a vast MaxDOFBlur gets there), each row's weights are
// worked out as it is visited instead.
//
// A table row is filled only as far as the footprint rows visited ask: a
// strip visits only its own rows of a footprint, and a row as wide as the
// frame needs no more columns than the frame has. So a blur that changes
// from centre to centre (a depth ramp, a huge MaxDOFBlur) costs no more
// weights than its contributions, whatever the blur.
class FootprintWeights {
public:
    // rowReach and columnReach: the largest reach of a footprint above and
    // beside its centre, each already limited by the frame.
    [[nodiscard]] bool Reserve(int32_t width, int32_t rowReach, int32_t columnReach) {
        const int64_t rows = 2 * static_cast<int64_t>(rowReach) + 1;
        const int64_t columns = 2 * static_cast<int64_t>(columnReach) + 1;
        constexpr int64_t kLargestTable = int64_t{1} << 20;
        if (rows <= kLargestTable / columns) {
            table_ = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(rows) *
                                                             static_cast<std::size_t>(columns));
            positive_ = platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(rows));
            checked_ = platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(rows));
            return table_ && positive_ && checked_;
        }
        row_ = platform::WorkingArray<float>::Allocate(2 * static_cast<std::size_t>(width) + 1);
        return static_cast<bool>(row_);
    }

    // Makes the table that of the footprint's current blur, every row still
    // to be filled.
    void Set(const FootprintProfile& footprint) {
        if (!table_ || (valid_ && footprint.Radius() == radius_)) return;
        valid_ = true;
        radius_ = footprint.Radius();
        reach_ = footprint.Reach();
        centre_ = footprint.MaxHalfWidth();
        stride_ = 2 * static_cast<std::size_t>(centre_) + 1;
        const auto rows = 2 * static_cast<std::size_t>(reach_) + 1;
        for (std::size_t i = 0; i < rows; ++i) {
            checked_[i] = -1;
            positive_[i] = -1;
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
            const auto i = static_cast<std::size_t>(dy + reach_);
            // Columns 0 .. checked_ have been looked at; the weights fall
            // with the distance, so a row whose last look found none (its
            // positive reach below checked_) is complete.
            if (positive_[i] == checked_[i] && checked_[i] < hw) {
                ExtendRow(dy, hw, RowStart(dy) + centre_, checked_[i], positive_[i]);
            }
            positive = positive_[i];
        } else {
            weights = row_.data();
            centre = hw;
            positive = FillWeights(radius, dy, hw, row_.data());
        }
        return positive < hw ? positive : hw;
    }

private:
    // FillWeights for the columns checked + 1 .. hw of row dy: the same
    // weights, stored at row[dx] and row[-dx], until the first not above 0.
    void ExtendRow(int32_t dy, int32_t hw, float* row, int32_t& checked, int32_t& positive) const {
        const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
        for (int32_t dx = checked + 1; dx <= hw; ++dx) {
            checked = dx;
            const double dx2 = static_cast<double>(dx) * static_cast<double>(dx);
            const double w = static_cast<double>(radius_) - std::sqrt(dx2 + dy2);
            if (!(w > 0.0)) return;
            // A positive w never rounds to 0 in single precision.
            const float rounded = static_cast<float>(w);
            row[dx] = rounded;
            row[-dx] = rounded;
            positive = dx;
        }
    }

    float* RowStart(int32_t dy) const {
        return table_.data() + static_cast<std::size_t>(dy + reach_) * stride_;
    }
    platform::WorkingArray<float> table_;
    platform::WorkingArray<int32_t> positive_;
    platform::WorkingArray<int32_t> checked_;
    platform::WorkingArray<float> row_;
    bool valid_ = false;
    float radius_ = 0.0f;
    int32_t reach_ = 0;
    int32_t centre_ = 0;
    std::size_t stride_ = 1;
};

}  // namespace lumafex
