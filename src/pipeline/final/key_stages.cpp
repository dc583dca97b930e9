#include "pipeline/final/key_stages.h"

namespace lumafex {

void KeyPrep(const RowView&, StageContext&) {}
void FullBlack(const RowView&, StageContext&) {}
void FullWhite(const RowView&, StageContext&) {}
void NegativeAlpha(const RowView&, StageContext&) {}
void RangeAlpha(const RowView&, StageContext&) {}

}  // namespace lumafex
