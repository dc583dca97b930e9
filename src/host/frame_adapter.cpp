#include "host/frame_adapter.h"

#include "host/scene_items.h"
#include "pipeline/filter_chain.h"
#include "platform/heap.h"
#include "platform/memory.h"
#include "platform/messages.h"

namespace lumafex {

namespace {

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

}  // namespace

FrameView HostFrameView(const FrameAccess& frame) {
    FrameView view;
    view.width = frame.width > 0 ? frame.width : 0;
    view.height = frame.height > 0 ? frame.height : 0;
    if (view.width == 0 || view.height == 0 || frame.getLine == nullptr) return view;
    view.red = frame.getLine(host::kBufferRed, 0);
    view.green = frame.getLine(host::kBufferGreen, 0);
    view.blue = frame.getLine(host::kBufferBlue, 0);
    view.alpha = frame.getLine(host::kBufferAlpha, 0);
    view.shadow = frame.getLine(host::kBufferShadow, 0);
    if (frame.getFloatLine != nullptr) {
        view.depthRow = HostDepthRow;
        view.depthContext = &frame;
    }
    return view;
}

bool KeepHostFrame(const FrameAccess& frame, int32_t fieldRendering, PreviewFrame& kept) {
    return KeepFrame(HostFrameView(frame), frame.time, fieldRendering, kept);
}

FrameOutcome ProcessFrame(const FrameAccess& access, GlobalLookup lookup, int32_t useNulls,
                          FilterSettings& record, HostGlobals& globals, RandomGenerator& random,
                          PreviewFrame* keep) {
    if (lookup == nullptr) return FrameOutcome::GlobalMissing;
    globals.sceneInfo = static_cast<const SceneInfo*>(lookup(host::kGlobalSceneInfo, 0));
    if (globals.sceneInfo == nullptr) return FrameOutcome::GlobalMissing;
    globals.itemInfo = static_cast<const ItemInfo*>(lookup(host::kGlobalItemInfo, 0));
    if (globals.itemInfo == nullptr) return FrameOutcome::GlobalMissing;
    globals.objectInfo = lookup(host::kGlobalObjectInfo, 0);
    if (globals.objectInfo == nullptr) return FrameOutcome::GlobalMissing;

    const int32_t fieldRendering = globals.sceneInfo->renderOptions & host::kRenderFields;
    globals.FrameEndTime = access.time;

    if (access.width % 8 != 0) {
        platform::ShowMessage(kOddWidthText, kOddWidthCaption);
        return FrameOutcome::Refused;
    }
    // Without the line and output operations there is nothing to work on.
    if (access.getLine == nullptr || access.putRGB == nullptr || access.putAlpha == nullptr) {
        return FrameOutcome::GlobalMissing;
    }

    FrameView view = HostFrameView(access);
    platform::WorkingArray<uint8_t> noShadow;
    if (view.width > 0 && view.height > 0) {
        if (view.red == nullptr || view.green == nullptr || view.blue == nullptr ||
            view.alpha == nullptr) {
            return FrameOutcome::GlobalMissing;
        }
        // A host without a shadow buffer: no pixel is in shadow.
        if (view.shadow == nullptr) {
            noShadow = platform::WorkingArray<uint8_t>::Allocate(view.PixelCount());
            if (!noShadow) {
                platform::ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption);
                return FrameOutcome::GlobalMissing;
            }
            view.shadow = noShadow.data();
        }
    }

    // The frame as it came, for the settings dialog's preview; when it
    // cannot be kept, the preview simply has no frame to show.
    if (keep != nullptr) {
        static_cast<void>(KeepFrame(view, globals.FrameEndTime, fieldRendering, *keep));
    }

    const HostSceneObjects objects(globals.itemInfo);
    FilterSettings frame = record;
    const FrameParameters params =
        PrepareFrameParameters(objects, globals.FrameEndTime, fieldRendering, useNulls, frame);
    HostOutput out(access);
    // Without a stop flag every pass runs: the result is always true.
    static_cast<void>(RunPasses(view, frame, params, random, out));
    // What the null channels set, and Passes, stay in the record after the frame.
    record = frame;

    platform::TrimHeap();
    return FrameOutcome::Processed;
}

}  // namespace lumafex
