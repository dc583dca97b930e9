#include "pipeline/filter_chain.h"

#include <utility>

#include "pipeline/final/final_pass.h"
#include "pipeline/null_channels.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "platform/messages.h"

namespace lumafex {

namespace {

bool BlurRuns(const FilterSettings& s) { return s.SofterBlurFlag == 0 && s.BlurFlag != 0; }
bool DepthOfFieldRuns(const FilterSettings& s) {
    return s.SofterBlurFlag == 0 && s.DOFBlurFlag != 0;
}
bool SofterBlurRuns(const FilterSettings& s) {
    return s.SofterBlurFlag != 0 && s.BlurFlag != 0 && s.SofterExtraFlag == 0;
}
bool SofterDepthOfFieldRuns(const FilterSettings& s) {
    return s.SofterBlurFlag != 0 && s.DOFBlurFlag != 0;
}

const std::array<OptionalPass, 4> kPasses = {{
    {"blur", BlurRuns, BlurPass},
    {"depth-of-field blur", DepthOfFieldRuns, DepthOfFieldBlurPass},
    {"softer blur", SofterBlurRuns, SofterBlurPass},
    {"softer depth-of-field blur", SofterDepthOfFieldRuns, SofterDepthOfFieldBlurPass},
}};

}  // namespace

const std::array<OptionalPass, 4>& OptionalPasses() { return kPasses; }

FrameParameters PrepareFrameParameters(const SceneObjects& objects, double time,
                                       int32_t fieldRendering, int32_t useNulls,
                                       FilterSettings& frame) {
    // A stored Passes never reaches the passes: only a null channel of this
    // frame can raise it again.
    frame.Passes = 1;
    FrameParameters params = ComputeFrameParameters(std::as_const(frame));
    params.FieldRendering = fieldRendering;
    objects.CameraPosition(time, params.CameraPosition);
    if (useNulls != 0) ApplyNullChannels(objects, time, frame, params);
    return params;
}

bool RunPasses(const FrameView& view, const FilterSettings& settings,
               const FrameParameters& params, RandomGenerator& random, FrameOutput& output,
               const std::atomic<bool>* stop) {
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    for (const OptionalPass& pass : kPasses) {
        if (stopped()) return false;
        // A pass whose working memory cannot be had leaves the frame as it
        // was; the frame still goes through the final pass and is written
        // whole, as the host expects of every frame.
        if (pass.runs(settings)) static_cast<void>(pass.run(view, settings, params));
    }
    if (stopped()) return false;
    if (RunFinalPass(view, settings, params, random, output) == FinalPassResult::OutOfMemory) {
        platform::ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption);
    }
    return true;
}

}  // namespace lumafex
