// Strips of rows: the unit of work the passes hand to the threads. The
// strip height depends only on the frame's width, never on the number of
// threads, and every strip writes only its own rows, so the result is the
// same however many threads share the strips.
#pragma once

#include <cstdint>

namespace lumafex {

struct RowStrips {
    int32_t rows = 0;       // the frame's height
    int32_t perStrip = 1;   // rows in every strip but possibly the last

    // About 16K pixels a strip (so a strip's working rows stay in cache),
    // between 4 and 64 rows.
    static RowStrips For(int32_t width, int32_t height) {
        RowStrips s;
        s.rows = height > 0 ? height : 0;
        const int32_t w = width > 0 ? width : 1;
        const int32_t target = 16384 / w;
        s.perStrip = target < 4 ? 4 : (target > 64 ? 64 : target);
        return s;
    }
    int32_t Count() const { return rows == 0 ? 0 : (rows - 1) / perStrip + 1; }
    int32_t First(int32_t strip) const { return strip * perStrip; }
    // One past the strip's last row.
    int32_t End(int32_t strip) const {
        return rows - First(strip) > perStrip ? First(strip) + perStrip : rows;
    }
};

}  // namespace lumafex
