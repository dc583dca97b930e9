// What the dialog's preview computes: the kept frame filtered as the module
// would filter it now with the dialog's values. The job is prepared on the
// dialog's thread (it reads the host's items for the camera and the null
// objects at the kept frame's time) and then runs on any thread: it holds
// copies only, so neither the record nor the module's noise generator moves.
#pragma once

#include <cstdint>

#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/preview_frame.h"
#include "settings/filter_settings.h"
#include "ui/dialog_controller.h"

namespace lumafex::ui {

struct PreviewJob {
    FilterSettings settings{};
    FrameParameters params;
    RandomGenerator random;
};

// The job for values (the dialog's current values) over kept, with "Use
// Nulls" as the dialog shows it and the module's generator as it stands.
PreviewJob MakePreviewJob(const PreviewFrame& kept, const FilterSettings& values,
                          const DialogModel& model, const RandomGenerator& random);

}  // namespace lumafex::ui
