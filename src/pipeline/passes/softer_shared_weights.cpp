#include "pipeline/passes/softer_shared_weights.h"

#include "pipeline/passes/softer_weights.h"

namespace lumafex::softer {

void SharedWeightSums(const FootprintProfile& fp, int32_t yy, int32_t width, int32_t height, float* table,
                      float* distinct, double* weightRow) {
    const int32_t margin = fp.MaxHalfWidth();
    const int32_t count = 2 * margin + 1;
    // distinct[k] belongs to column k for k <= margin, and to column
    // width - count + k for the others.
    for (int32_t k = 0; k < count; ++k) distinct[k] = 1.0f;
    const int32_t reachRows = fp.Reach();
    const int32_t yFrom = yy > reachRows ? yy - reachRows : 0;
    const int32_t yTo = height - 1 - yy > reachRows ? yy + reachRows : height - 1;
    for (int32_t y = yFrom; y <= yTo; ++y) {
        const int32_t top = fp.Top(y);
        if (yy < top || yy > fp.Bottom(y)) continue;
        const int32_t hw = fp.HalfWidth(yy - top);
        if (hw < 0) continue;
        const int32_t reach = FillWeights(fp.Radius(), yy - y, hw, table);
        if (reach < 0) continue;
        const float* const w = table + hw;
        for (int32_t k = 0; k < count; ++k) {
            const int32_t x = k <= margin ? k : width - count + k;
            const int32_t lo = reach < x ? -reach : -x;
            const int32_t hi = reach < width - 1 - x ? reach : width - 1 - x;
            float sum = distinct[k];
            for (int32_t dx = lo; dx <= hi; ++dx) {
                sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(w[dx]));
            }
            distinct[k] = sum;
        }
    }
    for (int32_t x = 0; x < width; ++x) {
        const int32_t k = x <= margin ? x : (x >= width - margin ? x - (width - count) : margin);
        weightRow[x] = distinct[k];
    }
}

}  // namespace lumafex::softer
