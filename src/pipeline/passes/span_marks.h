// The marks of the depth-of-field blur's spans whose pixels all take one
// colour: a span adds its colour at its first column and takes it away
// after its last, and one running sum along each row turns the marks into
// totals, so a wide span costs no more than a narrow one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pipeline/passes/depth_of_field.h"
#include "platform/memory.h"

namespace lumafex {

// The marks of the spans of one strip's rows whose pixels all take one
// colour: for each row and value (red, green, blue, count), the value added
// at a span's first column and taken away after its last, width + 1
// entries. Unsigned, so that the running sums may wrap: each pixel's total
// is exact whenever the true total fits, as the sums' own type ensures.
template <typename Sum>
class SpanMarks {
public:
    using Mark = std::make_unsigned_t<Sum>;

    bool Reserve(int32_t width, int32_t rows) {
        width_ = width;
        const uint64_t cells = 4 * (static_cast<uint64_t>(width) + 1) * static_cast<uint64_t>(rows);
        if (cells > std::numeric_limits<std::size_t>::max() / sizeof(Mark)) return false;
        marks_ = platform::WorkingArray<Mark>::Allocate(static_cast<std::size_t>(cells));
        marked_ = platform::WorkingArray<uint8_t>::Allocate(static_cast<std::size_t>(rows));
        return marks_ && marked_;
    }

    void Begin(int32_t first) { first_ = first; }

    // Every pixel of row y, columns from .. to (from <= to), takes r, g, b.
    void Add(int32_t y, int32_t from, int32_t to, Mark r, Mark g, Mark b) {
        Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
        const Mark add[4] = {r, g, b, 1};
        for (int v = 0; v < 4; ++v) {
            m[v][from] = static_cast<Mark>(m[v][from] + add[v]);
            m[v][to + 1] = static_cast<Mark>(m[v][to + 1] - add[v]);
        }
    }

    // Every centre x of first .. last gives its colour (from the planes'
    // row `colours`) to the columns x - hw .. x + hw of row y, clipped to the
    // row (hw >= 0).
    void AddRun(int32_t y, int32_t first, int32_t last, int32_t hw, const uint8_t* const (&colours)[3]) {
        Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
        // Spans cut at the left edge all start at column 0.
        const int32_t cut = hw - first < last - first + 1 ? hw : last + 1;
        for (int32_t x = first; x < cut; ++x) {
            for (int v = 0; v < 3; ++v) m[v][0] = static_cast<Mark>(m[v][0] + colours[v][x]);
            m[3][0] = static_cast<Mark>(m[3][0] + 1);
        }
        const int32_t from = cut > first ? cut : first;
        for (int v = 0; v < 3; ++v) AddShifted(m[v], colours[v], from, last, -hw);
        AddOnes(m[3], from, last, -hw);
        // Spans cut at the right edge end with the row and take nothing away.
        const int32_t stop = width_ - 1 - hw < last ? width_ - 1 - hw : last;
        for (int v = 0; v < 3; ++v) TakeShifted(m[v], colours[v], first, stop, hw + 1);
        TakeOnes(m[3], first, stop, hw + 1);
    }

    // Adds the marked totals of every row of the strip to its sums and
    // clears the marks for the next strip.
    void AddTo(StripSums<Sum>& sums) {
        for (int32_t y = sums.First(); y < sums.End(); ++y) {
            const auto row = static_cast<std::size_t>(y - first_);
            if (marked_[row] == 0) continue;
            marked_[row] = 0;
            Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
            SumCell<Sum>* const cells = sums.Row(y);
            Mark run[4] = {};
            for (int32_t x = 0; x < width_; ++x) {
                for (int v = 0; v < 4; ++v) run[v] = static_cast<Mark>(run[v] + m[v][x]);
                SumCell<Sum>& cell = cells[x];
                cell.red = static_cast<Sum>(static_cast<Mark>(cell.red) + run[0]);
                cell.green = static_cast<Sum>(static_cast<Mark>(cell.green) + run[1]);
                cell.blue = static_cast<Sum>(static_cast<Mark>(cell.blue) + run[2]);
                cell.count = static_cast<Sum>(static_cast<Mark>(cell.count) + run[3]);
            }
            std::memset(static_cast<void*>(m[0]), 0,
                        4 * (static_cast<std::size_t>(width_) + 1) * sizeof(Mark));
        }
    }

private:
    // Row y's marks of one value; marks the row as holding some.
    Mark* Values(int32_t y, int value) {
        const auto row = static_cast<std::size_t>(y - first_);
        marked_[row] = 1;
        return marks_.data() +
               (4 * row + static_cast<std::size_t>(value)) * (static_cast<std::size_t>(width_) + 1);
    }
    // m[x + shift] += c[x] (or -=, or the count's 1) for x = from .. to.
    static void AddShifted(Mark* __restrict m, const uint8_t* __restrict c, int32_t from, int32_t to,
                           int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] + c[x]);
    }
    static void TakeShifted(Mark* __restrict m, const uint8_t* __restrict c, int32_t from, int32_t to,
                            int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] - c[x]);
    }
    static void AddOnes(Mark* m, int32_t from, int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] + 1);
    }
    static void TakeOnes(Mark* m, int32_t from, int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] - 1);
    }

    platform::WorkingArray<Mark> marks_;
    platform::WorkingArray<uint8_t> marked_;
    int32_t width_ = 0;
    int32_t first_ = 0;
};

}  // namespace lumafex
