// The depth-of-field and the softer depth-of-field blur written out the
// slow, obvious way, with the depth buffers and random scenes their tests
// share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"
#include "support/test_frame.h"

namespace lumafex::reference {

using testing::TestFrame;

// A depth buffer for a test frame that counts how often each row is asked for.
struct DepthMap {
    DepthMap(int32_t w, int32_t h, float d)
        : width(w),
          values(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), d),
          fetches(static_cast<std::size_t>(h)) {}
    int32_t width;
    std::vector<float> values;
    mutable std::vector<int32_t> fetches;
    int32_t missingRow = -1;

    float& At(int32_t x, int32_t y) {
        return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    static const float* Row(const void* context, int32_t y) {
        const auto* m = static_cast<const DepthMap*>(context);
        ++m->fetches[static_cast<std::size_t>(y)];
        if (y == m->missingRow) return nullptr;
        return m->values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(m->width);
    }
    FrameView Attach(TestFrame& frame) const {
        FrameView v = frame.View();
        v.depthRow = Row;
        v.depthContext = this;
        return v;
    }
};

// A random frame with objects, shadows, a band of colour-range pixels and
// depths on both sides of the focal range 99..101; part of the depths on a
// coarse grid so that equal blurs meet often.
struct Scene {
    TestFrame frame;
    DepthMap depth;
};
Scene RandomScene(int32_t w, int32_t h, uint32_t seed);

// The depth-of-field blur over the frame in place.
void DepthOfField(TestFrame& f, const DepthMap& depth, const FilterSettings& s, const FrameParameters& p);

// The softer depth-of-field blur over the frame in place, centres in row
// order: the single-precision sums are rounded after every addition.
void SofterDepthOfField(TestFrame& f, const DepthMap& depth, const FilterSettings& s,
                        const FrameParameters& p);

}  // namespace lumafex::reference
