// What the settings dialog works on, as the host side builds it for one run
// of the dialog: the shared record and the module-wide switches it edits,
// and what it shows of the scene (the latest frame's time, the scene's
// named objects, the frame the preview filters). The dialog never reaches
// the module or the host itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/frame/random_generator.h"
#include "pipeline/preview_frame.h"
#include "pipeline/scene_objects.h"
#include "platform/memory.h"
#include "settings/filter_settings.h"
#include "ui/control_surface.h"

namespace lumafex::ui {

struct DialogModel {
    FilterSettings* settings = nullptr;        // the shared record, edited in place
    int32_t* UseNulls = nullptr;               // 8 on, 0 off
    CustomColourTable* CustomColours = nullptr;
    double FrameEndTime = 0.0;                 // time of the latest frame
    // The scene's items; null when the host gives none (nothing is shown for
    // null objects, and the preview's camera stands at the origin).
    const SceneObjects* objects = nullptr;
    // The frame the preview filters (null or empty: none yet), and the
    // module's noise generator as it stands, copied into every preview.
    const PreviewFrame* previewFrame = nullptr;
    const RandomGenerator* random = nullptr;
    // Why the host has no frame to offer (an image it could not read), or
    // null; the preview says it instead of its general hint.
    const char* previewProblem = nullptr;
    // Set to 1 when the dialog ends with OK and to 0 otherwise, for a host
    // that wants to know (null: nobody asked).
    int32_t* outcome = nullptr;
    // The window that owns the dialog, and the module file whose resources
    // hold its template (Win32).
    void* ownerWindow = nullptr;
    void* resourceModule = nullptr;
    // Obtains the preset buffer; tests replace it to show the failure path.
    platform::MemoryBlock (*allocate)(std::size_t bytes) = platform::MemoryBlock::Allocate;
};

}  // namespace lumafex::ui
