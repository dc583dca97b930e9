#include "ui/preview_job.h"

#include "pipeline/filter_chain.h"

namespace lumafex::ui {

PreviewJob MakePreviewJob(const PreviewFrame& kept, const FilterSettings& values,
                          const DialogModel& model, const RandomGenerator& random) {
    PreviewJob job;
    job.settings = values;
    job.random = random;
    // Without the host's items the camera stands at the origin and no null
    // object is read, as for a scene without them.
    static const EmptyScene kNoItems;
    const SceneObjects& objects = model.objects != nullptr ? *model.objects : kNoItems;
    const int32_t useNulls = model.UseNulls != nullptr ? *model.UseNulls : 0;
    job.params = PrepareFrameParameters(objects, kept.time, kept.fieldRendering, useNulls,
                                        job.settings);
    return job;
}

}  // namespace lumafex::ui
