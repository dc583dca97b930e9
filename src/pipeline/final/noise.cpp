#include "pipeline/final/noise.h"

#include "pipeline/final/random_generator.h"

namespace lumafex {

void Noise(const RowView&, StageContext&) {}

}  // namespace lumafex
