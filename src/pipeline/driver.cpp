#include "pipeline/driver.h"

#include "pipeline/final/final_pass.h"
#include "pipeline/null_channels.h"
#include "pipeline/passes/blur.h"
#include "pipeline/preview_frame.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "platform/heap.h"
#include "platform/memory.h"
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

// The final pass's output: the host's per-pixel operations.
class HostOutput final : public FrameOutput {
public:
    explicit HostOutput(const FrameAccess& frame) : frame_(frame) {}
    void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) override { frame_.putRGB(x, y, rgb); }
    void PutAlpha(int32_t x, int32_t y, uint8_t alpha) override { frame_.putAlpha(x, y, alpha); }

private:
    const FrameAccess& frame_;
};

const float* HostDepthRow(const void* context, int32_t y) {
    const auto* frame = static_cast<const FrameAccess*>(context);
    return frame->getFloatLine(host::kBufferDepth, y);
}

void ReadCameraPosition(const ItemInfo& items, double time, double position[3]) {
    position[0] = position[1] = position[2] = 0.0;
    if (items.firstItem == nullptr || items.itemVector == nullptr) return;
    void* camera = items.firstItem(host::kItemCamera, nullptr);
    // A scene without a camera is measured from the origin.
    if (camera == nullptr) return;
    items.itemVector(camera, host::kParamPosition, time, position);
}

}  // namespace

const std::array<OptionalPass, 4>& OptionalPasses() { return kPasses; }

bool RunPasses(const FrameView& frame, const FilterSettings& settings,
               const FrameParameters& params, RandomGenerator& random, FrameOutput& out,
               const std::atomic<bool>* stop) {
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    for (const OptionalPass& pass : kPasses) {
        if (stopped()) return false;
        // A pass that cannot have its working memory leaves the frame as it
        // was; the frame still goes through the final pass and is written
        // whole, as the host expects of every frame.
        if (pass.runs(settings)) static_cast<void>(pass.run(frame, settings, params));
    }
    if (stopped()) return false;
    if (RunFinalPass(frame, settings, params, random, out) == FinalPassResult::OutOfMemory) {
        platform::ShowMessage(kOutOfMemoryText, kOutOfMemoryCaption);
    }
    return true;
}

FrameParameters PrepareFrameParameters(const ItemInfo& items, double time,
                                       int32_t fieldRendering, int32_t useNulls,
                                       FilterSettings& settings) {
    double camera[3];
    ReadCameraPosition(items, time, camera);
    FrameParameters params = ComputeFrameParameters(settings);
    params.FieldRendering = fieldRendering;
    for (int i = 0; i < 3; ++i) params.CameraPosition[i] = camera[i];
    if (useNulls != 0) ReadNullChannels(items, time, settings, params);
    return params;
}

FrameOutcome ProcessFrame(const FrameAccess& frame, GlobalLookup lookup, int32_t useNulls,
                          FilterSettings& settings, DriverGlobals& globals,
                          RandomGenerator& random, PreviewFrame* keep) {
    if (lookup == nullptr) return FrameOutcome::GlobalMissing;
    globals.sceneInfo = static_cast<const SceneInfo*>(lookup(host::kGlobalSceneInfo, 0));
    if (globals.sceneInfo == nullptr) return FrameOutcome::GlobalMissing;
    globals.itemInfo = static_cast<const ItemInfo*>(lookup(host::kGlobalItemInfo, 0));
    if (globals.itemInfo == nullptr) return FrameOutcome::GlobalMissing;
    globals.objectInfo = lookup(host::kGlobalObjectInfo, 0);
    if (globals.objectInfo == nullptr) return FrameOutcome::GlobalMissing;

    const int32_t fieldRendering = globals.sceneInfo->renderOptions & host::kRenderFields;
    globals.FrameEndTime = frame.time;

    if (frame.width % 8 != 0) {
        platform::ShowMessage(kOddWidthText, kOddWidthCaption);
        return FrameOutcome::Refused;
    }
    // Without the line and output operations there is nothing to work on.
    if (frame.getLine == nullptr || frame.putRGB == nullptr || frame.putAlpha == nullptr) {
        return FrameOutcome::GlobalMissing;
    }

    FrameView view;
    view.width = frame.width > 0 ? frame.width : 0;
    view.height = frame.height > 0 ? frame.height : 0;
    platform::WorkingArray<uint8_t> noShadow;
    if (view.width > 0 && view.height > 0) {
        view.red = frame.getLine(host::kBufferRed, 0);
        view.green = frame.getLine(host::kBufferGreen, 0);
        view.blue = frame.getLine(host::kBufferBlue, 0);
        view.alpha = frame.getLine(host::kBufferAlpha, 0);
        view.shadow = frame.getLine(host::kBufferShadow, 0);
        if (view.red == nullptr || view.green == nullptr || view.blue == nullptr ||
            view.alpha == nullptr) {
            return FrameOutcome::GlobalMissing;
        }
        // A host without a shadow buffer: no pixel is in shadow.
        if (view.shadow == nullptr) {
            noShadow = platform::WorkingArray<uint8_t>::Allocate(view.PixelCount());
            if (!noShadow) {
                platform::ShowMessage(kOutOfMemoryText, kOutOfMemoryCaption);
                return FrameOutcome::GlobalMissing;
            }
            view.shadow = noShadow.data();
        }
        if (frame.getFloatLine != nullptr) {
            view.depthRow = HostDepthRow;
            view.depthContext = &frame;
        }
    }

    // The frame as it came, for the settings dialog's preview.
    // Without memory for the copy the preview has no frame to show; the
    // render itself goes on.
    if (keep != nullptr) static_cast<void>(KeepFrame(view, globals.FrameEndTime, fieldRendering, *keep));

    const FrameParameters params = PrepareFrameParameters(
        *globals.itemInfo, globals.FrameEndTime, fieldRendering, useNulls, settings);

    HostOutput out(frame);
    // Without a stop flag every pass runs: the result is always true.
    static_cast<void>(RunPasses(view, settings, params, random, out));

    platform::TrimHeap();
    return FrameOutcome::Processed;
}

}  // namespace lumafex
