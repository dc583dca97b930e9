// Strips of rows: the unit of work the passes hand to the threads. The
// strip height depends only on the frame's width, never on the number of
// threads, and every strip writes only its own rows, so the result is the
// same however many threads share the strips.
#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/frame/thread_pool.h"

namespace lumafex {

struct RowStrips {
    int32_t rows = 0;       // the frame's height
    int32_t perStrip = 1;   // rows in every strip but possibly the last

    // About 64K pixels a strip (a strip's working rows stay in the cache,
    // and the rows a strip reads around it are few next to its own),
    // between 4 and 128 rows. Passes whose strips repeat more work around
    // them ask for taller strips.
    static RowStrips For(int32_t width, int32_t height, int32_t pixels = 65536) {
        RowStrips s;
        s.rows = height > 0 ? height : 0;
        const int32_t w = width > 0 ? width : 1;
        const int32_t target = pixels / w;
        s.perStrip = target < 4 ? 4 : (target > 128 ? 128 : target);
        return s;
    }
    int32_t Count() const { return rows == 0 ? 0 : (rows - 1) / perStrip + 1; }
    int32_t First(int32_t strip) const { return strip * perStrip; }
    // One past the strip's last row.
    int32_t End(int32_t strip) const {
        return rows - First(strip) > perStrip ? First(strip) + perStrip : rows;
    }
};

// Hands the strips out one at a time to whichever thread asks next; a
// worker keeps its working rows across the strips it takes.
class StripQueue {
public:
    explicit StripQueue(RowStrips strips) : strips_(strips) {}
    // The threads worth starting: no more than there are strips.
    int32_t Workers() const {
        const int32_t threads = ThreadCount();
        return threads < strips_.Count() ? threads : strips_.Count();
    }
    // The next strip's index; false when none is left.
    bool NextStrip(int32_t& strip) {
        strip = next_.fetch_add(1, std::memory_order_relaxed);
        return strip < strips_.Count();
    }

    // The next strip's rows first .. end-1; false when none is left.
    bool Next(int32_t& first, int32_t& end) {
        int32_t strip = 0;
        if (!NextStrip(strip)) return false;
        first = strips_.First(strip);
        end = strips_.End(strip);
        return true;
    }

private:
    RowStrips strips_;
    std::atomic<int32_t> next_{0};
};

// Runs body(first, end) once for every strip, on the threads.
template <typename Body>
void ForEachStrip(RowStrips strips, Body&& body) {
    ForEachTask(strips.Count(),
                [&](int32_t strip) { body(strips.First(strip), strips.End(strip)); });
}

}  // namespace lumafex
