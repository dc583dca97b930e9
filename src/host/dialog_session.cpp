#include "host/dialog_session.h"

#include "ui/dialog_controller.h"
#include "ui/settings_dialog.h"

namespace lumafex {

namespace {

template <typename T>
const T* Global(GlobalLookup lookup, const char* name) {
    return lookup != nullptr ? static_cast<const T*>(lookup(name, 0)) : nullptr;
}

// The scene's items, when the host gives every global a frame needs. They
// are looked up only when the dialog will read them: for the null display
// at its start, or for the preview.
const ItemInfo* DialogItems(const Module& module) {
    if (module.UseNulls == 0 && !ui::DialogShowsPreview()) return nullptr;
    const GlobalLookup lookup = module.lookup;
    if (Global<SceneInfo>(lookup, host::kGlobalSceneInfo) == nullptr) return nullptr;
    const auto* items = Global<ItemInfo>(lookup, host::kGlobalItemInfo);
    if (items == nullptr || Global<void>(lookup, host::kGlobalObjectInfo) == nullptr) return nullptr;
    return items;
}

}  // namespace

DialogSession::DialogSession(Module& module)
    : items_(DialogItems(module)), objects_(items_) {
    model_.settings = module.record.Obtain();
    model_.UseNulls = &module.UseNulls;
    model_.CustomColours = &ui::TheCustomColours();
    model_.FrameEndTime = module.globals.FrameEndTime;
    model_.objects = items_ != nullptr ? &objects_ : nullptr;
    model_.random = &module.random;
    model_.ownerWindow = module.hostWindow;
    model_.resourceModule = module.instanceHandle;
    if (module.lookup != nullptr) {
        model_.outcome = static_cast<int32_t*>(module.lookup(host::kGlobalDialogOutcome, 0));
    }
    if (!ui::DialogShowsPreview()) return;
    // The frame the host hands over for the preview, else the latest frame
    // the module processed.
    model_.previewFrame = &module.lastFrame;
    if (const auto* offered = Global<FrameAccess>(module.lookup, host::kGlobalPreviewFrame)) {
        const auto* scene = Global<SceneInfo>(module.lookup, host::kGlobalSceneInfo);
        const int32_t fields = scene != nullptr ? (scene->renderOptions & host::kRenderFields) : 0;
        if (KeepHostFrame(*offered, fields, offered_)) model_.previewFrame = &offered_;
    } else {
        model_.previewProblem = Global<char>(module.lookup, host::kGlobalPreviewProblem);
    }
}

}  // namespace lumafex
