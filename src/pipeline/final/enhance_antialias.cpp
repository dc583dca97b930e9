#include "pipeline/final/enhance_antialias.h"

namespace lumafex {

void EnhanceAndAntialias(const FrameView&, const FilterSettings&, const FrameParameters&,
                         const WorkLines&) {}

}  // namespace lumafex
