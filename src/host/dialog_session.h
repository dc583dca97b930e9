// What the settings dialog is given of the module for one run: the model
// built from the module's values and the host's globals, and what that
// model points to (the scene's items, the frame the preview shows) for as
// long as the dialog runs.
#pragma once

#include "host/module.h"
#include "host/scene_items.h"
#include "pipeline/preview_frame.h"
#include "ui/dialog_model.h"

namespace lumafex {

class DialogSession {
public:
    // The model's settings are null when the record cannot be obtained (the
    // dialog then does not open).
    explicit DialogSession(Module& module);
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    const ui::DialogModel& model() const { return model_; }

private:
    const ItemInfo* items_;  // null when the host lacks a global a frame needs
    HostSceneObjects objects_;
    PreviewFrame offered_;  // the frame a host hands over for the preview
    ui::DialogModel model_;
};

}  // namespace lumafex
