#include "ui/preview_job.h"

#include "pipeline/driver.h"

namespace lumafex::ui {

PreviewJob MakePreviewJob(const PreviewFrame& kept, const FilterSettings& values,
                          const DialogModel& model, const RandomGenerator& random) {
    PreviewJob job;
    job.settings = values;
    job.random = random;
    // Without the host's items the camera stands at the origin and no null
    // object is read, as for a scene without them.
    static const ItemInfo kNoItems{};
    const ItemInfo* items = model.lookup != nullptr
                                ? static_cast<const ItemInfo*>(model.lookup(host::kGlobalItemInfo, 0))
                                : nullptr;
    const int32_t useNulls = model.UseNulls != nullptr ? *model.UseNulls : 0;
    job.params = PrepareFrameParameters(items != nullptr ? *items : kNoItems, kept.time,
                                        kept.fieldRendering, useNulls, job.settings);
    return job;
}

}  // namespace lumafex::ui
